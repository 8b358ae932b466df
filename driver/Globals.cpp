#include "driver/Globals.h"

#include "driver/Constants.h"
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

bool UndefinedData(const VARIANT& value) noexcept {
    return value.vt == VT_EMPTY || value.vt == VT_NULL;
}

bool GetProperty(std::int32_t id, PItemProperties props, VARIANT& value) {
    platform::VariantRelease(value);
    value.vt = VT_I4;
    value.lVal = 0;
    if (!props || id < 0) {
        return false;
    }
    const TItemProperty* first = *props;
    const std::int32_t count = DynArrayLength(first);
    for (std::int32_t i = 0; i < count; ++i) {
        if (first[i].dwPropertyID != static_cast<std::uint32_t>(id)) {
            continue;
        }
        if (UndefinedData(first[i].vValue)) {
            return false;
        }
        platform::VariantCopyFrom(value, first[i].vValue);
        return true;
    }
    return false;
}

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

namespace {

bool ParseSettingBool(std::u16string_view text, bool& out) {
    platform::Variant value = platform::Variant::Text(text);
    try {
        out = platform::VariantToBool(value.get());
        return true;
    } catch (const platform::ConversionError&) {
        return false;
    }
}

void ReportBadConfig() {
    platform::ShowMessageBox(kBoxBadConfig, kBoxErrorCaption,
                             platform::kBoxIconError | platform::kBoxTaskModal);
}

} // namespace

bool ApplySettingsPair(const KibShortString& name, const KibShortString& value) {
    const std::u16string_view key = ShortStringView(name);
    const std::u16string_view text = ShortStringView(value);
    std::int32_t* target = nullptr;
    if (key == kKeyWaitTimeout) {
        target = &DriverSettings.WaitTimeout;
    } else if (key == kKeyCountTry) {
        target = &DriverSettings.CountTry;
    } else if (key == kKeyTimeNextSend) {
        target = &DriverSettings.TimeNextSend;
    } else if (key == kKeyCalcCRC) {
        bool on = false;
        if (!ParseSettingBool(text, on)) {
            ReportBadConfig();
            return false;
        }
        DriverSettings.CalcCRC = on;
        return true;
    } else {
        return true;
    }
    std::int32_t number = 0;
    if (!platform::ParseInt32(text, number)) {
        ReportBadConfig();
        return false;
    }
    *target = number;
    return true;
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
