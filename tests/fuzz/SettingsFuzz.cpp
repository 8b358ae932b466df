// Settings pairs and property display texts: any key and value text through LoadConfig, any
// value-typed VARIANT (texts with broken UTF-16, NaN, infinities, huge numbers) through
// GetPropStr. Neither may fail, the watchdog time stays the widened formula held to 32 bits,
// and every display text ends inside its record.
#include "FuzzInput.h"
#include "contract/Constants.h"
#include "driver/Globals.h"
#include "driver/Main.h"
#include "platform/Com.h"
#include "platform/MessageBox.h"
#include "platform/Text.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>

using vemox::fuzz::FuzzInput;
using vemox::fuzz::Require;

namespace {

constexpr std::uint16_t kValueTypes[] = {
    VT_EMPTY, VT_NULL, VT_I2,  VT_I4,  VT_R4,  VT_R8, VT_CY,  VT_DATE, VT_BSTR, VT_ERROR,
    VT_BOOL,  VT_I1,   VT_UI1, VT_UI2, VT_UI4, VT_I8, VT_UI8, VT_INT,  VT_UINT};

const char16_t* const kKeys[] = {vemox::kKeyWaitTimeout, vemox::kKeyCountTry,
                                 vemox::kKeyTimeNextSend, vemox::kKeyCalcCRC};

std::u16string Text(FuzzInput& in, std::size_t maxChars) {
    const std::size_t chars = in.Word() % (maxChars + 1);
    std::u16string text;
    for (std::size_t i = 0; i < chars && !in.empty(); ++i) {
        text.push_back(static_cast<char16_t>(in.Word()));
    }
    return text;
}

// Fills the record as a host would, without any terminating zero when the text fills it.
void FillRecord(const std::u16string& text, vemox::KibShortString& record) {
    std::memset(record, 0, sizeof record);
    std::memcpy(record, text.data(), std::min(text.size(), std::size(record)) * sizeof(char16_t));
}

// Everything after the text is 0: the host reads the record as a whole.
bool ZeroFilled(const vemox::KibShortString& record) {
    const std::size_t length = vemox::ShortStringView(record).size();
    return std::all_of(record + length, record + std::size(record),
                       [](char16_t unit) { return unit == 0; });
}
void LoadPair(vemox::IKibDriver3& driver, FuzzInput& in) {
    const std::uint8_t pick = in.Byte();
    const std::u16string key = pick < 200 ? std::u16string(kKeys[pick % 4]) : Text(in, 600);
    vemox::KibShortString name;
    vemox::KibShortString value;
    FillRecord(key, name);
    FillRecord(Text(in, 600), value);
    driver.LoadConfig(name, value);

    std::int32_t timeout = 0;
    Require(driver.GetWatchdogTimeout(nullptr, nullptr, &timeout), "watchdog answers true");
    const std::int64_t wide = static_cast<std::int64_t>(vemox::DriverSettings.WaitTimeout) *
                                  vemox::DriverSettings.CountTry +
                              3000;
    const std::int64_t held = std::max<std::int64_t>(
        std::numeric_limits<std::int32_t>::min(),
        std::min<std::int64_t>(std::numeric_limits<std::int32_t>::max(), wide));
    Require(timeout == held, "watchdog time is the widened formula held to 32 bits");
}

void DisplayText(vemox::IKibDriver3& driver, FuzzInput& in) {
    VARIANT value;
    vemox::platform::VariantInitialize(value);
    const std::uint16_t vt = kValueTypes[in.Byte() % std::size(kValueTypes)];
    if (vt == VT_BSTR) {
        value.bstrVal = vemox::platform::AllocBstr(Text(in, 700));
    } else {
        value.llVal = static_cast<std::int64_t>(in.Dword()) | static_cast<std::int64_t>(in.Dword())
                                                                  << 32;
    }
    value.vt = vt;
    const std::uint32_t ids[] = {static_cast<std::uint32_t>(vemox::kPropComPort),
                                 static_cast<std::uint32_t>(vemox::kPropAddress), in.Dword()};
    const std::uint32_t id = ids[in.Byte() % 3];

    vemox::KibShortString text;
    std::memset(text, 0x5A, sizeof text);
    driver.GetPropStr(id, value, &text);
    if (vt == VT_BSTR && id != static_cast<std::uint32_t>(vemox::kPropComPort)) {
        // A text is copied unit for unit, embedded zeros included, cut to the record.
        const std::u16string_view source = vemox::platform::BstrView(value.bstrVal);
        vemox::KibShortString expected{};
        std::copy_n(source.begin(), std::min(source.size(), std::size(expected)), expected);
        Require(std::equal(std::begin(text), std::end(text), std::begin(expected)),
                "a text shows as itself, cut to the record and followed by zeros");
    } else {
        Require(ZeroFilled(text), "a display text is followed by zeros only");
    }
    if (vt == VT_EMPTY || vt == VT_NULL) {
        Require(text[0] == 0, "no value, no text");
    }
    if (id == static_cast<std::uint32_t>(vemox::kPropComPort) && vt == VT_I4 && value.lVal >= 0 &&
        value.lVal < 1000) {
        const std::u16string expected = u"COM" + vemox::platform::DecimalText(value.lVal + 1);
        Require(std::u16string(text) == expected, "a port number shows as its COM name");
    }
    vemox::platform::VariantRelease(value);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const bool quiet = [] {
        vemox::platform::SetMessageBoxHook(
            [](std::u16string_view, std::u16string_view, std::uint32_t) {});
        return true;
    }();
    (void)quiet;
    vemox::IKibDriver3* driver = nullptr;
    GetKibDriver2(&driver);
    Require(driver != nullptr, "the library hands out its driver");
    vemox::DriverSettings = vemox::TDriverSettings{};
    FuzzInput in(data, size);
    while (!in.empty()) {
        if (in.Byte() & 1) {
            LoadPair(*driver, in);
        } else {
            DisplayText(*driver, in);
        }
    }
    vemox::DriverSettings = vemox::TDriverSettings{};
    return 0;
}
