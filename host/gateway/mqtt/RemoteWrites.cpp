#include "host/gateway/mqtt/RemoteWrites.h"

#include "host/gateway/mqtt/MqttTopics.h"
#include "host/output/Report.h"
#include "host/session/ItemWrite.h"

namespace vemox::host {
namespace {

constexpr char kMalformed[] =
    "malformed payload: give true, false, a number, or {\"value\": one of those}";

std::string_view Trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

std::optional<AskedValue> ValueOfJson(const nlohmann::json& json) {
    if (json.is_boolean()) {
        return AskedValue(json.get<bool>() ? "true" : "false");
    }
    if (json.is_number()) {
        return AskedValue(json.get<double>());
    }
    return std::nullopt;
}

} // namespace

std::optional<PayloadValue> ValueOfPayload(std::string_view payload) {
    const std::string text(Trimmed(payload));
    if (text.empty() || payload.size() > kMqttMaxSetPayload) {
        return std::nullopt;
    }
    // A plain value is what `vemox-host write` takes on its command line.
    if (IsValueText(text)) {
        return PayloadValue{text, text};
    }
    const nlohmann::json json = nlohmann::json::parse(text, nullptr, false);
    if (!json.is_object() || json.size() != 1 || !json.contains("value")) {
        return std::nullopt;
    }
    const nlohmann::json& inner = json.at("value");
    if (auto value = ValueOfJson(inner)) {
        return PayloadValue{std::move(*value), inner.dump()};
    }
    return std::nullopt;
}

RemoteWrites::RemoteWrites(const MqttConfig& config, DriverSession& session, const HostClock& clock,
                           RunHooks hooks, LogSink log)
    : config_(config), session_(session), clock_(clock), hooks_(std::move(hooks)),
      log_(std::move(log)), writable_(config.writable.begin(), config.writable.end()) {}

nlohmann::json RemoteWrites::Refuse(const std::string& result, const std::string& why) {
    if (log_) {
        log_("mqtt: " + why);
    }
    return {{"ok", false}, {"result", result}, {"error", why}};
}

nlohmann::json RemoteWrites::Handle(const std::string& topic, std::string_view payload,
                                    bool retained) {
    const std::string name = ItemOfSetTopic(config_.topicPrefix, topic).value_or(topic);
    // The log shows a bad payload as it came, shortened.
    const std::string shown(Trimmed(payload.substr(0, kMqttMaxSetPayload)));
    SessionItem* item = session_.FindItem(name);
    const std::string asked = name + " <- " + shown + ": ";
    if (!item || item->config.FullName() != name) {
        return Refuse("refused", asked + "no such item; nothing written");
    }
    if (!writable_.count(name)) {
        return Refuse("refused", asked + "not listed in [mqtt] writable; nothing written");
    }
    // The broker hands a kept message to every new connection: written, it would be written
    // again each time the host connects.
    if (retained) {
        return Refuse(
            "refused",
            asked +
                "a retained message is not a write (publish it without retain); nothing written");
    }
    const std::optional<PayloadValue> value = ValueOfPayload(payload);
    if (!value) {
        return Refuse("refused", asked + kMalformed + "; nothing written");
    }
    if (hooks_.interrupted && hooks_.interrupted()) {
        return Refuse("not written", asked + "the host is stopping; nothing written");
    }
    const WriteOutcome outcome =
        WriteItem(session_, *item, value->value, value->text, clock_, hooks_);
    if (outcome.end != WriteEnd::Written) {
        return Refuse(outcome.end == WriteEnd::Refused ? "refused" : "not written", outcome.why);
    }
    const std::string result = outcome.finished ? OutcomeText(outcome.result) : "no outcome";
    if (log_) {
        log_("mqtt: " + name + " <- " + value->text + ": " + result);
    }
    return {{"ok", outcome.Acknowledged()},
            {"result", result},
            {"value", ValueJson(ValueOf(outcome.value.get()))},
            {"quality", outcome.quality},
            {"quality_text", QualityWords(outcome.quality)}};
}

} // namespace vemox::host
