#include "platform/Com.h"
#include "platform/DateTime.h"
#include "platform/Text.h"
#include "platform/VariantConvert.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

namespace vemox::platform {
namespace {

using ::testing::ElementsAre;

TEST(Bstr, KeepsTheOleMemoryForm) {
    BSTR text = AllocBstr(u"Вес");
    std::uint32_t bytes = 0;
    std::memcpy(&bytes, reinterpret_cast<const unsigned char*>(text) - 4, 4);
    EXPECT_EQ(bytes, 6u);
    EXPECT_EQ(text[3], 0);
    EXPECT_EQ(BstrView(text), u"Вес");
    FreeBstr(text);
    EXPECT_TRUE(BstrView(nullptr).empty());
}

TEST(VariantOwner, CopiesTextDeeplyAndMovesWithoutCopy) {
    Variant a = Variant::Text(u"COM3");
    Variant b(a);
    EXPECT_NE(a.get().bstrVal, b.get().bstrVal);
    EXPECT_EQ(BstrView(b.get().bstrVal), u"COM3");
    Variant c(std::move(a));
    EXPECT_EQ(a.type(), VT_EMPTY);
    EXPECT_EQ(BstrView(c.get().bstrVal), u"COM3");
}

struct IntCase {
    Variant value;
    std::int32_t expected;
};

TEST(VariantToInt32, FollowsTheOleRules) {
    const IntCase cases[] = {
        {Variant::Double(2.5), 2},    {Variant::Double(3.5), 4},
        {Variant::Double(-2.5), -2},  {Variant::Double(-0.6), -1},
        {Variant::Bool(true), -1},    {Variant::Bool(false), 0},
        {Variant::Text(u" 17 "), 17}, {Variant::Text(u"4.5"), 4},
        {Variant::Text(u"-3"), -3},   {Variant::Int64(2147483647), 2147483647},
        {Variant::Empty(), 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(VariantToInt32(c.value.get()), c.expected) << "vt " << c.value.type();
    }
}

TEST(VariantToInt32, RefusesWhatDoesNotFitOrParse) {
    const Variant bad[] = {
        Variant::Null(),        Variant::Text(u"abc"),        Variant::Text(u""),
        Variant::Text(u"1e"),   Variant::Int64(2147483648LL), Variant::Double(std::nan("")),
        Variant::Double(1e300), Variant::Double(2147483647.5)};
    for (const auto& v : bad) {
        EXPECT_THROW(VariantToInt32(v.get()), ConversionError) << "vt " << v.type();
    }
}

TEST(VariantToInt64, CoversTheWholeRangeAndNoMore) {
    EXPECT_EQ(VariantToInt64(Variant::Int64(-9223372036854775807LL - 1).get()),
              std::numeric_limits<std::int64_t>::min());
    EXPECT_EQ(VariantToInt64(Variant::Double(1e15).get()), 1000000000000000LL);
    EXPECT_THROW(VariantToInt64(Variant::Double(9.3e18).get()), ConversionError);
}

TEST(VariantToBool, AcceptsNumbersAndWordsInAnyCase) {
    EXPECT_TRUE(VariantToBool(Variant::Text(u"TRUE").get()));
    EXPECT_FALSE(VariantToBool(Variant::Text(u"fAlSe").get()));
    EXPECT_TRUE(VariantToBool(Variant::Text(u"-1").get()));
    EXPECT_FALSE(VariantToBool(Variant::Text(u"0").get()));
    EXPECT_TRUE(VariantToBool(Variant::Double(0.5).get()));
    EXPECT_THROW(VariantToBool(Variant::Text(u"yes").get()), ConversionError);
    EXPECT_THROW(VariantToBool(Variant::Null().get()), ConversionError);
}

TEST(VariantToText, WritesNumbersAsAPersonDoes) {
    EXPECT_EQ(VariantToText(Variant::Int32(17).get()), u"17");
    EXPECT_EQ(VariantToText(Variant::Double(12.5).get()), u"12.5");
    EXPECT_EQ(VariantToText(Variant::Double(0.1).get()), u"0.1");
    EXPECT_EQ(VariantToText(Variant::Double(1e20).get()), u"1E20");
    EXPECT_EQ(VariantToText(Variant::Double(-123.45).get()), u"-123.45");
    EXPECT_EQ(VariantToText(Variant::Bool(true).get()), u"True");
    EXPECT_EQ(VariantToText(Variant::Text(u"Вес").get()), u"Вес");
}

TEST(VariantEquals, ComparesAcrossTypesByValue) {
    const Variant zero = Variant::Int32(0);
    EXPECT_TRUE(VariantEquals(Variant::Bool(false).get(), zero.get()));
    EXPECT_FALSE(VariantEquals(Variant::Bool(true).get(), zero.get()));
    EXPECT_TRUE(VariantEquals(Variant::Double(0.0).get(), zero.get()));
    EXPECT_TRUE(VariantEquals(Variant::Text(u"0").get(), zero.get()));
    EXPECT_TRUE(VariantEquals(Variant::Empty().get(), zero.get()));
    EXPECT_FALSE(VariantEquals(Variant::Null().get(), zero.get()));
    EXPECT_FALSE(VariantEquals(Variant::Double(0.25).get(), zero.get()));
    EXPECT_THROW(VariantEquals(Variant::Text(u"off").get(), zero.get()), ConversionError);
}

TEST(ParseInt32, TakesSignedDecimalsInRangeOnly) {
    std::int32_t v = 7;
    EXPECT_TRUE(ParseInt32(u"-2147483648", v));
    EXPECT_EQ(v, std::numeric_limits<std::int32_t>::min());
    EXPECT_TRUE(ParseInt32(u"+5000", v));
    EXPECT_EQ(v, 5000);
    for (auto bad : {u"", u"2147483648", u"12a", u"1.5", u"-", u"0x10"}) {
        EXPECT_FALSE(ParseInt32(bad, v)) << Utf16ToUtf8(bad);
    }
}

TEST(DateTime, SplitsAndJoinsWithMillisecondResolution) {
    CivilTime t;
    t.year = 2026;
    t.month = 12;
    t.day = 9;
    t.hour = 13;
    t.minute = 45;
    t.second = 7;
    t.millisecond = 999;
    const CivilTime back = SplitDateTime(JoinDateTime(t));
    EXPECT_THAT((std::vector<int>{back.year, back.month, back.day, back.hour, back.minute,
                                  back.second, back.millisecond}),
                ElementsAre(2026, 12, 9, 13, 45, 7, 999));
    // Day 0 of the OLE calendar and the FILETIME epoch.
    EXPECT_DOUBLE_EQ(JoinDateTime(CivilTime{}), 0.0);
    EXPECT_EQ(CivilToFileTimeTicks(CivilTime{1601, 1, 1, 0, 0, 0, 0}), 0);
    EXPECT_EQ(CivilToFileTimeTicks(CivilTime{1970, 1, 1, 0, 0, 0, 1}), 116444736000010000LL);
}

TEST(Text, RoundTripsUtf8AndUtf16) {
    const std::string text = "Вемокс \xF0\x9F\x98\x80 COM1";
    EXPECT_EQ(Utf16ToUtf8(Utf8ToUtf16(text)), text);
    EXPECT_EQ(Utf8ToUtf16("\xFF"), u"\uFFFD");
}

} // namespace
} // namespace vemox::platform
