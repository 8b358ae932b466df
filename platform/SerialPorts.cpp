#include "platform/SerialPorts.h"

#include <utility>

namespace vemox::platform {

std::vector<std::u16string> SystemSerialPortNames();

namespace {
SerialPortSource& Source() {
    static SerialPortSource source;
    return source;
}
} // namespace

std::vector<std::u16string> ReadSerialPortNames() {
    return Source() ? Source()() : SystemSerialPortNames();
}

SerialPortSource SetSerialPortSource(SerialPortSource source) {
    return std::exchange(Source(), std::move(source));
}

} // namespace vemox::platform
