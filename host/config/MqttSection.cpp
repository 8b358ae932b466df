#include "host/config/MqttSection.h"

#include "host/config/WritableList.h"

namespace vemox::host {
namespace {

constexpr std::string_view kPlainScheme = "mqtt://";
constexpr std::string_view kTlsScheme = "mqtts://";

// "mqtt://host", "mqtts://host:8883", "mqtt://[::1]:1883".
void ReadUrl(const ConfigReader& reader, const toml::table& table, MqttConfig& mqtt) {
    mqtt.url = reader.RequiredText(table, "url", "[mqtt]");
    const auto fail = [&](const std::string& why) {
        reader.Fail(table.get("url")->source(), "url '" + mqtt.url + "': " + why);
    };
    std::string_view rest = mqtt.url;
    if (rest.substr(0, kTlsScheme.size()) == kTlsScheme) {
        mqtt.tls = true;
        mqtt.port = kMqttTlsPort;
        rest.remove_prefix(kTlsScheme.size());
    } else if (rest.substr(0, kPlainScheme.size()) == kPlainScheme) {
        rest.remove_prefix(kPlainScheme.size());
    } else {
        fail("must begin with mqtt:// or mqtts://");
    }
    std::string_view portText;
    if (!rest.empty() && rest.front() == '[') {
        const std::size_t close = rest.find(']');
        if (close == std::string_view::npos) {
            fail("an IPv6 address needs its closing ']'");
        }
        mqtt.host = std::string(rest.substr(1, close - 1));
        rest.remove_prefix(close + 1);
        if (!rest.empty() && rest.front() != ':') {
            fail("only a port may follow the address");
        }
        portText = rest.empty() ? rest : rest.substr(1);
        if (!rest.empty() && portText.empty()) {
            fail("no port after ':'");
        }
    } else {
        const std::size_t colon = rest.find(':');
        mqtt.host = std::string(rest.substr(0, colon));
        if (colon != std::string_view::npos) {
            portText = rest.substr(colon + 1);
            if (portText.empty()) {
                fail("no port after ':'");
            }
        }
    }
    if (mqtt.host.empty()) {
        fail("names no broker host");
    }
    if (mqtt.host.find_first_of("/?#@ ") != std::string::npos) {
        fail("give only the broker's host and port (user names and passwords have keys of "
             "their own)");
    }
    if (!portText.empty()) {
        mqtt.port = PortNumber(portText);
        if (mqtt.port == 0) {
            fail("the port must be a number 1..65535");
        }
    }
}

void ReadTopicPrefix(const ConfigReader& reader, const toml::table& table, MqttConfig& mqtt) {
    const auto prefix = reader.Text(table, "topic_prefix");
    if (!prefix) {
        return;
    }
    mqtt.topicPrefix = *prefix;
    // A prefix may span levels ("plant/line1"); each of them must stand as a level.
    std::size_t start = 0;
    for (;;) {
        const std::size_t slash = mqtt.topicPrefix.find('/', start);
        const std::string level = mqtt.topicPrefix.substr(start, slash - start);
        if (const auto fault = TopicLevelFault(level)) {
            reader.Fail(table.get("topic_prefix")->source(),
                        "topic_prefix '" + mqtt.topicPrefix + "': " + *fault);
        }
        if (slash == std::string::npos) {
            break;
        }
        start = slash + 1;
    }
}

void ReadSecurity(const ConfigReader& reader, const toml::table& table, MqttConfig& mqtt) {
    mqtt.username = reader.Text(table, "username").value_or("");
    mqtt.passwordFile = reader.Text(table, "password_file").value_or("");
    if (!mqtt.passwordFile.empty() && mqtt.username.empty()) {
        reader.Fail(table.get("password_file")->source(),
                    "'password_file' needs 'username': a broker takes a password only with "
                    "a user name");
    }
    for (const auto& [key, target] :
         {std::pair{"ca_file", &mqtt.caFile}, std::pair{"cert_file", &mqtt.certFile},
          std::pair{"key_file", &mqtt.keyFile}}) {
        *target = reader.Text(table, key).value_or("");
        if (table.get(key) && target->empty()) {
            reader.Fail(table.get(key)->source(), "'" + std::string(key) + "' is empty");
        }
        if (!target->empty() && !mqtt.tls) {
            reader.Fail(table.get(key)->source(),
                        "'" + std::string(key) + "' needs an mqtts:// url");
        }
    }
    if (mqtt.certFile.empty() != mqtt.keyFile.empty()) {
        reader.Fail(table.source(), "'cert_file' and 'key_file' go together");
    }
}

} // namespace

std::optional<MqttConfig> ReadMqttSection(const ConfigReader& reader, const toml::table& root,
                                          const std::vector<ItemConfig>& items) {
    const toml::table* table = reader.Section(root, "mqtt");
    if (!table) {
        return std::nullopt;
    }
    reader.OnlyKeys(*table, "[mqtt]",
                    {"url", "client_id", "topic_prefix", "qos", "retain", "username",
                     "password_file", "ca_file", "cert_file", "key_file", "heartbeat_s",
                     "writable"});
    MqttConfig mqtt;
    ReadUrl(reader, *table, mqtt);
    mqtt.clientId = reader.Text(*table, "client_id").value_or("");
    ReadTopicPrefix(reader, *table, mqtt);
    mqtt.qos = static_cast<int>(reader.Integer(*table, "qos", 0, 1).value_or(kMqttDefaultQos));
    mqtt.retain = reader.Boolean(*table, "retain").value_or(true);
    ReadSecurity(reader, *table, mqtt);
    mqtt.heartbeatS = reader.Integer(*table, "heartbeat_s", 0, kMqttMaxHeartbeatS)
                          .value_or(kMqttDefaultHeartbeatS);
    // Every item is published under its node's and its own name.
    for (const ItemConfig& item : items) {
        for (const std::string& level : {item.node, item.name}) {
            if (const auto fault = TopicLevelFault(level)) {
                reader.Fail(table->source(),
                            "item '" + item.FullName() + "' cannot be published: " + *fault);
            }
        }
    }
    mqtt.writable = ReadWritableList(reader, *table, items);
    return mqtt;
}

std::optional<std::string> TopicLevelFault(std::string_view name) {
    if (name.empty()) {
        return "an empty topic level";
    }
    if (const std::size_t at = name.find_first_of("/+#"); at != std::string_view::npos) {
        return "'" + std::string(1, name[at]) + "' cannot stand in a topic level";
    }
    if (name.front() == '$') {
        return "a topic level beginning with '$' is kept for the host's own topics";
    }
    return std::nullopt;
}

} // namespace vemox::host
