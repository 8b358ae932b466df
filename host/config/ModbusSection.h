// Reads the [modbus] section of the configuration file, checked completely before anything
// starts: an address to listen on, the carriage of 32-bit values, writable items that exist
// and can be written, one unit id per node and one address per item in each table.
#pragma once

#include "host/config/ConfigReader.h"
#include "host/config/ModbusConfig.h"

#include <optional>

namespace vemox::host {

// Nothing when the file has no [modbus] section. Reads `config`'s nodes and items (already
// read) for unit ids and addresses. Throws ConfigError.
std::optional<ModbusConfig> ReadModbusSection(const ConfigReader& reader, const toml::table& root,
                                              const HostConfig& config);

} // namespace vemox::host
