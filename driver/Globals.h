// Helpers shared by every layer, and the process-wide driver settings.
#pragma once

#include "driver/PluginInterface.h"

#include <cstdint>

namespace vemox {

struct TDriverSettings {
    std::int32_t WaitTimeout = 3000;   // ms to wait for a reply
    std::int32_t CountTry = 3;         // writes of one request before it fails
    std::int32_t TimeNextSend = 60000; // ms between writes to a silent controller
    bool CalcCRC = true;               // frames carry and are tested against a checksum
};

extern TDriverSettings DriverSettings;

// Finds the first property with the ID; an absent, Empty or Null value answers false and
// leaves the integer 0 (VT_I4) in the output.
bool GetProperty(std::int32_t id, PItemProperties props, VARIANT& value);

bool UndefinedData(const VARIANT& value) noexcept;

// Zero-filled COM task memory, or nil after telling the operator that memory ran out.
void* AllocKibMemory(std::int32_t size) noexcept;
void FreeKibMemory(void* block) noexcept;

template <typename T> T* AllocKibRecord() noexcept {
    return static_cast<T*>(AllocKibMemory(static_cast<std::int32_t>(sizeof(T))));
}

// Applies one settings pair to DriverSettings. Unknown keys are ignored (true); a value that
// does not convert shows the operator a box and changes nothing (false).
bool ApplySettingsPair(const KibShortString& name, const KibShortString& value);

// The watchdog time: every try of a request plus a margin, computed wide and held to 32 bits.
std::int32_t WatchdogTimeoutMs(const TDriverSettings& settings) noexcept;

} // namespace vemox
