#include "platform/SerialPorts.h"
#include "platform/windows/SerialPortsWin.h"

namespace vemox::platform {

// Read access is all the list needs. Asking for more fails for a host that does not run as
// administrator and would leave the operator without any port to choose.
constexpr REGSAM kSerialKeyAccess = KEY_READ;

std::vector<std::u16string> ReadSerialPortNamesWith(RegistryOpen open) {
    std::vector<std::u16string> names;
    HKEY key = nullptr;
    if (open(HKEY_LOCAL_MACHINE, L"hardware\\devicemap\\serialcomm", 0, kSerialKeyAccess, &key) !=
        ERROR_SUCCESS) {
        return names;
    }
    for (DWORD index = 0;; ++index) {
        wchar_t name[256];
        DWORD nameLength = 256;
        wchar_t data[256];
        DWORD dataBytes = sizeof data;
        DWORD type = 0;
        const LONG result = ::RegEnumValueW(key, index, name, &nameLength, nullptr, &type,
                                            reinterpret_cast<BYTE*>(data), &dataBytes);
        if (result == ERROR_NO_MORE_ITEMS) {
            break;
        }
        if (result != ERROR_SUCCESS || type != REG_SZ) {
            continue; // too long or not text: no port name
        }
        std::size_t length = dataBytes / sizeof(wchar_t);
        while (length > 0 && data[length - 1] == L'\0') {
            --length;
        }
        names.emplace_back(reinterpret_cast<const char16_t*>(data), length);
    }
    ::RegCloseKey(key);
    return names;
}

std::vector<std::u16string> SystemSerialPortNames() {
    return ReadSerialPortNamesWith(::RegOpenKeyExW);
}

} // namespace vemox::platform
