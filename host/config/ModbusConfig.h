// How `vemox-host run` serves Modbus TCP clients: the [modbus] section of the configuration
// file, with the defaults and limits of the server.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vemox::host {

constexpr char kModbusDefaultListen[] = "127.0.0.1:1502";
constexpr std::int64_t kModbusDefaultMaxClients = 16;
constexpr std::int64_t kModbusMostClients = 1000; // select() watches at most about 1000
constexpr std::int64_t kModbusDefaultIdleS = 60;
constexpr std::int64_t kModbusMostIdleS = 86400;
constexpr int kModbusFirstUnit = 1;
constexpr int kModbusLastUnit = 247; // the unit ids a serial line's addressing allows
constexpr int kModbusLastAddress = 65535;
constexpr int kModbusMostDecimals = 6;
// Each unit's link figures, from this input register on (see ModbusMap.h).
constexpr int kModbusDiagnosticsAddress = 9000;
// Writes asked for faster than the line takes them wait at most this many; more are answered
// "server busy".
constexpr std::size_t kModbusMaxWaitingWrites = 64;

enum class ModbusWordOrder { Big, Little }; // big: the high word first
enum class ModbusFormat { Float32, Int32 }; // int32: the value times 10^decimals

struct ModbusConfig {
    std::string listen = kModbusDefaultListen; // as written, to name it in messages
    std::string host = "127.0.0.1";
    int port = 1502;
    std::int64_t maxClients = kModbusDefaultMaxClients;
    std::int64_t idleTimeoutS = kModbusDefaultIdleS;
    ModbusWordOrder wordOrder = ModbusWordOrder::Big;
    ModbusFormat format = ModbusFormat::Float32;
    std::vector<std::string> writable; // NODE.ITEM; nothing is writable by default
    std::vector<int> unitIds;          // by node, in the configuration's order
};

} // namespace vemox::host
