// The driver's own helpers: task memory, the process-wide settings and the watchdog time.
#pragma once

#include "config/DriverSettings.h"
#include "contract/PluginInterface.h"

#include <cstdint>

namespace vemox {

// The process-wide settings, one object as the host expects. The poll cycle, request building
// and reply handling read them; the settings page edits them through the page context.
extern TDriverSettings DriverSettings;

// Zero-filled COM task memory, or nil after telling the operator that memory ran out.
void* AllocKibMemory(std::int32_t size) noexcept;
void FreeKibMemory(void* block) noexcept;

template <typename T> T* AllocKibRecord() noexcept {
    return static_cast<T*>(AllocKibMemory(static_cast<std::int32_t>(sizeof(T))));
}

// The watchdog time: every try of a request plus a margin, computed wide and held to 32 bits.
std::int32_t WatchdogTimeoutMs(const TDriverSettings& settings) noexcept;

} // namespace vemox
