// The registry read behind the serial-port list, with the key opening replaceable so that
// tests can play a host without administrator rights or a key of their own.
#pragma once

#include "platform/Types.h"

#include <string>
#include <vector>

namespace vemox::platform {

using RegistryOpen = LONG(WINAPI*)(HKEY root, LPCWSTR path, DWORD options, REGSAM access,
                                   PHKEY key);

// Reads "hardware\devicemap\serialcomm" under HKEY_LOCAL_MACHINE through `open`.
std::vector<std::u16string> ReadSerialPortNamesWith(RegistryOpen open);

} // namespace vemox::platform
