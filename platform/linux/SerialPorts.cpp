// Without a system registry of ports the list is the four ports a standard PC enumerates;
// the port numbers map onto the host's own serial devices.
#include "platform/SerialPorts.h"

namespace vemox::platform {

std::vector<std::u16string> SystemSerialPortNames() {
    return {u"COM1", u"COM2", u"COM3", u"COM4"};
}

} // namespace vemox::platform
