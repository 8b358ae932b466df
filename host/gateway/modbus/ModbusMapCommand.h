#pragma once
// `modbus-map`: the Modbus register map of a configuration, for the operator and for a SCADA
// package to import.
#include "host/commission/HostCommand.h"
#include "host/config/HostConfig.h"

#include <string>

namespace vemox::host {

void AddModbusMapCommand(CLI::App& app, CommandAction& chosen);

// The map of a configuration with a [modbus] section: a table for the eye, or CSV with a
// header row. Each unit's diagnostics block follows its items.
std::string ModbusMapText(const HostConfig& config, bool csv);

} // namespace vemox::host
