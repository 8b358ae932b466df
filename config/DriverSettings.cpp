#include "config/DriverSettings.h"

#include "contract/Constants.h"
#include "platform/Com.h"
#include "platform/MessageBox.h"
#include "platform/Text.h"
#include "platform/VariantConvert.h"

namespace vemox {

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

bool ApplySettingsPair(TDriverSettings& settings, const KibShortString& name,
                       const KibShortString& value) {
    const std::u16string_view key = ShortStringView(name);
    const std::u16string_view text = ShortStringView(value);
    std::int32_t* target = nullptr;
    if (key == kKeyWaitTimeout) {
        target = &settings.WaitTimeout;
    } else if (key == kKeyCountTry) {
        target = &settings.CountTry;
    } else if (key == kKeyTimeNextSend) {
        target = &settings.TimeNextSend;
    } else if (key == kKeyCalcCRC) {
        bool on = false;
        if (!ParseSettingBool(text, on)) {
            ReportBadConfig();
            return false;
        }
        settings.CalcCRC = on;
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

} // namespace vemox
