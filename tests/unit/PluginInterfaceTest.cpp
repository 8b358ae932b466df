#include "config/PropertySet.h"
#include "config/PropertySets.h"
#include "contract/Constants.h"
#include "driver/Globals.h"
#include "platform/MessageBox.h"
#include "platform/Text.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <string>
#include <vector>

namespace vemox {
namespace {

using platform::Variant;

std::u16string Repeat(char16_t c, std::size_t n) {
    return std::u16string(n, c);
}

TEST(ShortString, IsZeroFilledAndCutAt513Units) {
    KibShortString s;
    std::memset(s, 0xAB, sizeof s);
    GetShortString(u"", s);
    for (auto unit : s) {
        ASSERT_EQ(unit, 0);
    }
    GetShortString(Repeat(u'x', 600), s);
    EXPECT_EQ(s[512], u'x');
    EXPECT_EQ(ShortStringView(s).size(), 513u);
    GetShortString(u"Вемокс", s);
    EXPECT_EQ(ShortStringView(s), u"Вемокс");
    EXPECT_EQ(s[6], 0);
}

TEST(DynamicArray, KeepsCountAndReferenceCountBeforeTheFirstElement) {
    PropertySet set;
    set.Append(kPropComPort, VT_UI1, u"COM порт", Variant::Int32(3));
    set.Append(kPropAddress, VT_UI1, u"Адрес устройства", Variant::Int64(5));
    const TItemProperty* first = *set.get();
    std::int32_t header[2];
    std::memcpy(header, reinterpret_cast<const unsigned char*>(first) - 8, 8);
    EXPECT_EQ(header[0], 1); // reference count
    EXPECT_EQ(header[1], 2); // element count
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(first) % alignof(VARIANT), 0u);
}

TEST(GetProperty, FirstRecordWithTheIdDecides) {
    PropertySet set;
    set.Append(kPropComPort, VT_UI1, u"", Variant::Null());
    set.Append(kPropComPort, VT_UI1, u"", Variant::Int32(3));
    set.Append(kPropAddress, VT_UI1, u"", Variant::Int64(17));
    set.Append(kPropDescription, VT_BSTR, u"", Variant::Text(u"Весы 1"));

    Variant out = Variant::Text(u"stale");
    EXPECT_FALSE(GetProperty(kPropComPort, set.get(), out.get()));
    EXPECT_EQ(out.type(), VT_I4);
    EXPECT_EQ(out.get().lVal, 0);

    ASSERT_TRUE(GetProperty(kPropAddress, set.get(), out.get()));
    EXPECT_EQ(out.type(), VT_I8);
    EXPECT_EQ(out.get().llVal, 17);

    ASSERT_TRUE(GetProperty(kPropDescription, set.get(), out.get()));
    EXPECT_EQ(platform::BstrView(out.get().bstrVal), u"Весы 1");
    EXPECT_NE(out.get().bstrVal, (*set.get())[3].vValue.bstrVal) << "the value is a copy";

    EXPECT_FALSE(GetProperty(kPropSerial, set.get(), out.get()));
    EXPECT_FALSE(GetProperty(-1, set.get(), out.get()));
    EXPECT_FALSE(GetProperty(kPropAddress, nullptr, out.get()));
    PropertySet empty;
    EXPECT_FALSE(GetProperty(kPropAddress, empty.get(), out.get()));
    EXPECT_EQ(out.get().lVal, 0);
}

TEST(UndefinedData, OnlyEmptyAndNull) {
    EXPECT_TRUE(UndefinedData(Variant::Empty().get()));
    EXPECT_TRUE(UndefinedData(Variant::Null().get()));
    EXPECT_FALSE(UndefinedData(Variant::Int32(0).get()));
    EXPECT_FALSE(UndefinedData(Variant::Text(u"").get()));
}

class BoxRecorder {
public:
    BoxRecorder() {
        previous_ = platform::SetMessageBoxHook(
            [this](std::u16string_view text, std::u16string_view caption, std::uint32_t flags) {
                boxes.push_back({std::u16string(text), std::u16string(caption), flags});
            });
    }
    ~BoxRecorder() { platform::SetMessageBoxHook(previous_); }
    struct Box {
        std::u16string text, caption;
        std::uint32_t flags;
    };
    std::vector<Box> boxes;

private:
    platform::MessageBoxHook previous_;
};

TEST(AllocKibMemory, ZeroFillsAndTellsTheOperatorOnlyOfRealShortage) {
    BoxRecorder boxes;
    auto* block = static_cast<unsigned char*>(AllocKibMemory(64));
    ASSERT_NE(block, nullptr);
    for (int i = 0; i < 64; ++i) {
        ASSERT_EQ(block[i], 0);
    }
    FreeKibMemory(block);
    FreeKibMemory(nullptr);
    EXPECT_EQ(AllocKibMemory(0), nullptr);
    EXPECT_EQ(AllocKibMemory(-5), nullptr);
    EXPECT_TRUE(boxes.boxes.empty());
}

class SettingsPairs : public ::testing::Test {
protected:
    void SetUp() override { DriverSettings = TDriverSettings{}; }
    void TearDown() override { DriverSettings = TDriverSettings{}; }
    bool Apply(std::u16string_view key, std::u16string_view value) {
        KibShortString k, v;
        GetShortString(key, k);
        GetShortString(value, v);
        return ApplySettingsPair(DriverSettings, k, v);
    }
    BoxRecorder boxes;
};

TEST_F(SettingsPairs, StoreNumbersUnchangedWithoutRangeCheck) {
    EXPECT_TRUE(Apply(u"WaitTimeout", u"5000"));
    EXPECT_TRUE(Apply(u"CountTry", u"-7"));
    EXPECT_TRUE(Apply(u"TimeNextSend", u"0"));
    EXPECT_EQ(DriverSettings.WaitTimeout, 5000);
    EXPECT_EQ(DriverSettings.CountTry, -7);
    EXPECT_EQ(DriverSettings.TimeNextSend, 0);
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(SettingsPairs, CalcCrcTakesNumbersAndWords) {
    struct Case {
        std::u16string_view text;
        bool on;
    };
    for (const Case c : {Case{u"0", false}, Case{u"-1", true}, Case{u"1", true},
                         Case{u"FALSE", false}, Case{u"True", true}, Case{u"false", false}}) {
        DriverSettings.CalcCRC = !c.on;
        EXPECT_TRUE(Apply(u"CalcCRC", c.text));
        EXPECT_EQ(DriverSettings.CalcCRC, c.on) << platform::Utf16ToUtf8(c.text);
    }
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(SettingsPairs, BadValueShowsTheBoxAndKeepsTheSetting) {
    EXPECT_FALSE(Apply(u"CountTry", u"abc"));
    EXPECT_FALSE(Apply(u"CalcCRC", u"yes"));
    EXPECT_FALSE(Apply(u"WaitTimeout", u"99999999999"));
    EXPECT_EQ(DriverSettings.CountTry, 3);
    EXPECT_TRUE(DriverSettings.CalcCRC);
    EXPECT_EQ(DriverSettings.WaitTimeout, 3000);
    ASSERT_EQ(boxes.boxes.size(), 3u);
    EXPECT_EQ(boxes.boxes[0].text, u"Неверные параметры конфигурации");
    EXPECT_EQ(boxes.boxes[0].caption, u"Ошибка");
    EXPECT_EQ(boxes.boxes[0].flags, 0x2010u);
}

TEST_F(SettingsPairs, KeysAreExactIncludingLetterCase) {
    EXPECT_TRUE(Apply(u"waittimeout", u"abc"));
    EXPECT_TRUE(Apply(u"Unknown", u"1"));
    EXPECT_EQ(DriverSettings.WaitTimeout, 3000);
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST(Watchdog, SaturatesInsteadOfOverflowing) {
    TDriverSettings s;
    EXPECT_EQ(WatchdogTimeoutMs(s), 12000);
    s.WaitTimeout = 1000;
    s.CountTry = 5;
    EXPECT_EQ(WatchdogTimeoutMs(s), 8000);
    s.WaitTimeout = 2000000000;
    s.CountTry = 100;
    EXPECT_EQ(WatchdogTimeoutMs(s), std::numeric_limits<std::int32_t>::max());
    s.WaitTimeout = -2000000000;
    EXPECT_EQ(WatchdogTimeoutMs(s), std::numeric_limits<std::int32_t>::min());
}

} // namespace
} // namespace vemox
