// The library's only export. The host calls it to obtain the driver.
#include "driver/Main.h"

#if defined(__GNUC__) && !defined(_WIN32)
#define VX_EXPORT __attribute__((visibility("default")))
#else
#define VX_EXPORT
#endif

extern "C" VX_EXPORT void VX_STDCALL GetKibDriver2(vemox::IKibDriver3** result) {
    if (!result) {
        return;
    }
    *result = vemox::PortDriver ? vemox::PortDriver->DriverInterface() : nullptr;
}
