// Reads the [mqtt] section of the configuration file, checked completely before anything
// starts: a broker URL the client can use, TLS files only with mqtts://, topic names that
// every item can be published under, and writable items that exist and can be written.
#pragma once

#include "host/config/ConfigReader.h"
#include "host/config/MqttConfig.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vemox::host {

// Nothing when the file has no [mqtt] section. Throws ConfigError.
std::optional<MqttConfig> ReadMqttSection(const ConfigReader& reader, const toml::table& root,
                                          const std::vector<ItemConfig>& items);

// Why `name` cannot stand as one level of a topic; nothing when it can.
std::optional<std::string> TopicLevelFault(std::string_view name);

} // namespace vemox::host
