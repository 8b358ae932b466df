#include "driver/Registry.h"

#include "driver/Globals.h"

#include <limits>
#include <stdexcept>

namespace vemox {

void FreeCommand(TCommand* command) noexcept {
    if (command) {
        FreeKibMemory(command->Data);
        FreeKibMemory(command);
    }
}

TComPort& FindOrAddPort(TComPortNum port) {
    for (TComPort& known : Ports) {
        if (known.Port == port) {
            return known;
        }
    }
    TComPort& added = Ports.emplace_back();
    added.Port = port;
    return added;
}

std::uint16_t FindOrAddDevice(TComPort& port, std::uint16_t address, std::uint32_t serial) {
    const std::size_t count = port.Devices.size();
    for (std::size_t j = 0; j < count; ++j) {
        if (port.Devices[j].Address == address && port.Devices[j].Serial == serial) {
            return static_cast<std::uint16_t>(j);
        }
    }
    if (count > std::numeric_limits<std::uint16_t>::max()) {
        throw std::length_error("no device index left on the port");
    }
    TDevice& added = port.Devices.emplace_back();
    added.Address = address;
    added.Serial = serial;
    return static_cast<std::uint16_t>(count);
}

} // namespace vemox
