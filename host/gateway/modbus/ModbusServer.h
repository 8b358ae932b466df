// The Modbus TCP server of `vemox-host run`: its own thread waits with select() on the
// listening socket and every client, and answers each request from the latest finished reads
// the host thread hands over, never from the line. Writes wait in a bounded queue for the
// host thread, which alone calls the driver; a client's answer goes out when its write ended.
#pragma once

#include "host/config/HostConfig.h"
#include "host/config/ModbusMap.h"
#include "platform/Com.h"

#include <array>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace vemox::host {

// Modbus exception codes as the server answers them.
enum class ModbusException : std::uint8_t {
    None = 0,
    IllegalFunction = 0x01,  // a function the map does not serve; a write not listed
    IllegalAddress = 0x02,   // an address outside the map
    IllegalValue = 0x03,     // a value refused by the write checks, a write of half a value
    ServerBusy = 0x06,       // more writes waiting than the line takes
    PathUnavailable = 0x0A,  // a unit id no node has
    TargetNoResponse = 0x0B, // the value's last read was not good; a write failed
};

// The server could not start (address in use, no such address, no Modbus support).
class ModbusSetupError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// An item's latest finished read, as the server answers it.
struct ModbusValue {
    bool good = false;
    double value = 0;
};

// One unit's link figures, in the order of kModbusDiagnostics.
struct ModbusDiagnostics {
    bool good = false;
    std::array<double, kModbusDiagnostics.size()> figures{};
};

struct ModbusItemWrite {
    std::size_t item; // in the configuration's items
    double value;     // a coil as 0 or 1; the gate judges it like any other write
    std::string text; // as the log shows it
};

// A client's write of one or more items, answered through Finish.
struct ModbusWrite {
    std::uint64_t id = 0;
    std::vector<ModbusItemWrite> items;
};

class ModbusServer {
public:
    // Listens at once and starts the server's thread. `config` must have a [modbus] section.
    // Throws ModbusSetupError.
    explicit ModbusServer(const HostConfig& config);
    ModbusServer(const ModbusServer&) = delete;
    ModbusServer& operator=(const ModbusServer&) = delete;
    ~ModbusServer();

    // From the host thread: the latest finished reads, by item and by node.
    void Update(std::vector<ModbusValue> values, std::vector<ModbusDiagnostics> units);
    // From the host thread: the writes asked for since the last call, oldest first.
    std::vector<ModbusWrite> TakeWrites();
    // From the host thread: how write `id` ended; None answers the normal echo.
    void Finish(std::uint64_t id, ModbusException outcome);

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

} // namespace vemox::host
