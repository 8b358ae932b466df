#include "driver/Globals.h"

#include "contract/Constants.h"
#include "platform/Com.h"
#include "platform/MessageBox.h"
#include "platform/VariantConvert.h"

#include <cstring>
#include <limits>
#include <type_traits>

namespace vemox {

// Plain values set before any code runs and never destroyed, so they may live apart from the
// library's objects: tools that only build property sets do not create a driver.
static_assert(std::is_trivially_destructible_v<TDriverSettings>);
TDriverSettings DriverSettings;

void* AllocKibMemory(std::int32_t size) noexcept {
    void* block = size > 0 ? platform::TaskMemAlloc(static_cast<std::size_t>(size)) : nullptr;
    if (block) {
        std::memset(block, 0, static_cast<std::size_t>(size));
        return block;
    }
    if (size > 0) {
        try {
            platform::ShowMessageBox(kBoxOutOfMemory, kBoxServerCaption,
                                     platform::kBoxTaskModal | platform::kBoxIconError);
        } catch (...) {
            // The operator could not be told; the caller still learns it from nil.
        }
    }
    return nullptr;
}

void FreeKibMemory(void* block) noexcept {
    if (block) {
        platform::TaskMemFree(block);
    }
}

std::int32_t WatchdogTimeoutMs(const TDriverSettings& settings) noexcept {
    const std::int64_t wide =
        static_cast<std::int64_t>(settings.WaitTimeout) * settings.CountTry + kWatchdogMarginMs;
    if (wide > std::numeric_limits<std::int32_t>::max()) {
        return std::numeric_limits<std::int32_t>::max();
    }
    if (wide < std::numeric_limits<std::int32_t>::min()) {
        return std::numeric_limits<std::int32_t>::min();
    }
    return static_cast<std::int32_t>(wide);
}

} // namespace vemox
