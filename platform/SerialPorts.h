// The serial ports the system lists for the operator to choose from.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace vemox::platform {

// The string data of every value under the system's serial-port list, in the order the system
// enumerates them; values whose data is not text are skipped. An unreadable list gives none.
std::vector<std::u16string> ReadSerialPortNames();

using SerialPortSource = std::function<std::vector<std::u16string>()>;

// Replaces the system's list (an empty source restores it). Returns the source it replaced.
SerialPortSource SetSerialPortSource(SerialPortSource source);

} // namespace vemox::platform
