// The host's configuration file: driver settings, serial ports, nodes (controllers) and
// items, read from TOML and checked completely before anything starts.
#pragma once

#include "contract/Constants.h"
#include "contract/Operations.h"
#include "host/config/ModbusConfig.h"
#include "host/config/MqttConfig.h"
#include "host/line/SerialLine.h"

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace vemox::host {

// The driver's settings as key and value, in the order its settings page saves them.
using SettingsPairs = std::vector<std::pair<std::u16string, std::u16string>>;

// "file:line: what is wrong", a line for each mistake when the file has several.
class ConfigError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct PortConfig {
    std::string name;   // "COM1"
    int number = 0;     // 0 for COM1
    std::string device; // what is opened; empty: the system's device for the port
    LineSettings line;
};

struct NodeConfig {
    std::string name;
    int portNumber = 0;
    bool useAddress = true;
    int address = 1;
    std::uint32_t serial = 0;
    std::int32_t scanSeconds = 1; // 0: read again as soon as the last read is done
    std::string description;
    std::optional<int> unitId; // Modbus unit id; when absent, see ModbusSection.h
    int decimals = 0;          // of scaled values, for Modbus int32
};

struct ItemConfig {
    std::string node;
    std::string name;
    const OperationInfo* operation = nullptr;
    // Counter, input, output, weight point, state bit or link figure; 0 when unused.
    int parameter = 0;
    int level = 0;                           // weight points: 0 lower, 1 upper
    std::optional<std::int32_t> scanSeconds; // own scan rate; the node's when absent
    std::string description;
    std::optional<int> modbusAddress; // own address in its Modbus table

    std::string FullName() const { return node + "." + name; }
    // The driver answers a read of dosing control with 0 without asking the controller: such
    // an item can only be written.
    bool WriteOnly() const { return operation->operation == Operation::DosingControl; }
    // A link figure is writable on its own terms (only the reset is), not its operation's.
    bool Writable() const {
        return ItemTypeOf(*operation, parameter).accessRights == kAccessReadWrite;
    }
};

struct HostTiming {
    std::int64_t executePeriodMs = 20; // how often the driver's poll cycle runs
    std::int64_t replyGapMs = 50;      // line quiet this long ends a reply without end marker
    std::int64_t reopenMs = 2000;      // between tries to open a device that is not there
};

struct HostConfig {
    std::string file;
    SettingsPairs driverSettings; // in the order the driver's settings page saves them
    HostTiming timing;
    std::vector<PortConfig> ports;
    std::vector<NodeConfig> nodes;
    std::vector<ItemConfig> items;
    std::optional<MqttConfig> mqtt;     // `run` publishes to a broker when the file has [mqtt]
    std::optional<ModbusConfig> modbus; // `run` serves Modbus TCP when the file has [modbus]

    const PortConfig* FindPort(int number) const;
    const NodeConfig* FindNode(const std::string& name) const;
    // Whether the driver's frames carry a checksum (the CalcCRC setting).
    bool ChecksumOn() const;
    // The gateways `run` starts beside polling, by their section names.
    std::vector<std::string> Gateways() const;
};

// Both throw ConfigError.
HostConfig LoadHostConfig(const std::string& path);
HostConfig ParseHostConfig(std::string_view text, const std::string& fileName);

// "COM7" -> 6; -1 for anything else.
int PortNumberOfName(std::string_view name);

} // namespace vemox::host
