#include "protocol/Codec.h"
#include "config/PropertySet.h"
#include "config/PropertySets.h"
#include "contract/Constants.h"
#include "driver/Globals.h"
#include "platform/DateTime.h"
#include "platform/Text.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

namespace vemox {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Ascii(const char* text) {
    return Bytes(text, text + std::char_traits<char>::length(text));
}

TEST(Codec, CrcMatchesTheStandardCheckValues) {
    struct Case {
        Bytes data;
        std::uint8_t crc;
    };
    const Case cases[] = {
        {Ascii("abc"), 0xFD},
        {Ascii("123456789"), 0xE7},
        {{0x05, 0xC2}, 0x86},
        {{0x27, 0xC4}, 0xFF},
        {{0x05, 0xC8, 0x03}, 0x0F},
        {{0x00, 0x0F, 0x42, 0x3F, 0xC3}, 0xD6},
        {{0x05, 0xC2, 0x45, 0x23, 0x01, 0x00}, 0x4A},
    };
    for (const auto& c : cases) {
        const auto n = static_cast<std::int32_t>(c.data.size());
        EXPECT_EQ(CalcCRC(c.data.data(), n, 1), c.crc);
        Bytes withCrc = c.data;
        withCrc.push_back(c.crc);
        EXPECT_EQ(CalcCRC(withCrc.data(), n + 1, 0), 0) << "receiver check";
        withCrc[0] ^= 0x10;
        EXPECT_NE(CalcCRC(withCrc.data(), n + 1, 0), 0) << "a flipped bit is caught";
    }
    EXPECT_EQ(CalcCRC(nullptr, 0, 0), 0);
    EXPECT_EQ(CalcCRC(Ascii("abc").data(), -3, 0), 0);
}

// The register is fed from a table; every register value and byte must give what shifting
// the byte in bit by bit gives.
TEST(Codec, CrcRegisterStepEqualsTheBitSerialShift) {
    for (int crc = 0; crc < 256; ++crc) {
        for (int data = 0; data < 256; ++data) {
            std::uint8_t reg = static_cast<std::uint8_t>(crc);
            for (int bit = 7; bit >= 0; --bit) {
                const bool carry = (reg & 0x80) != 0;
                reg = static_cast<std::uint8_t>((reg << 1) | ((data >> bit) & 1));
                if (carry) {
                    reg ^= 0x69;
                }
            }
            ASSERT_EQ(CRCMaker(static_cast<std::uint8_t>(data), static_cast<std::uint8_t>(crc)),
                      reg)
                << "register " << crc << ", byte " << data;
        }
    }
}

TEST(Codec, BcdRoundTripsAndDropsHighDigits) {
    const Bytes weight{0x45, 0x23, 0x01};
    EXPECT_EQ(BCDToInt(weight.data(), 3), 12345u);
    const Bytes two{0x12, 0x34};
    EXPECT_EQ(BCDToInt(two.data(), 2), 3412u);
    const Bytes badNibble{0x0A};
    EXPECT_EQ(BCDToInt(badNibble.data(), 1), 10u);
    const Bytes ten{0x99, 0x99, 0x99, 0x99, 0x99};
    EXPECT_EQ(BCDToInt(ten.data(), 5), static_cast<std::uint32_t>(9999999999ull));

    Bytes out(3, 0xAA);
    IntToBCD(1000000, out.data(), 3);
    EXPECT_EQ(out, (Bytes{0x00, 0x00, 0x00}));
    IntToBCD(12345, out.data(), 3);
    EXPECT_EQ(out, weight);
    IntToBCD(999999, out.data(), 3);
    EXPECT_EQ(BCDToInt(out.data(), 3), 999999u);
}

TEST(Codec, WrapStuffsEveryMarkerAndExtractUndoesIt) {
    const Bytes body{0x27, 0xC4, 0xFF};
    const Bytes frame = WrapFrame(body.data(), 3);
    EXPECT_EQ(frame, (Bytes{0xFF, 0x27, 0xC4, 0xFF, 0xFE, 0xFF, 0xFF}));

    Bytes buffer = frame;
    std::uint8_t* start = buffer.data();
    std::int32_t count = static_cast<std::int32_t>(buffer.size());
    ExtractFrame(start, count);
    EXPECT_EQ(Bytes(start, start + count), body);

    const Bytes allMarkers{0xFF, 0xFF, 0xFF};
    EXPECT_EQ(WrapFrame(allMarkers.data(), 3),
              (Bytes{0xFF, 0xFF, 0xFE, 0xFF, 0xFE, 0xFF, 0xFE, 0xFF, 0xFF}));
    EXPECT_EQ(WrapFrame(nullptr, 0), (Bytes{0xFF, 0xFF, 0xFF}));
}

TEST(Codec, ExtractFrameCases) {
    struct Case {
        const char* name;
        Bytes in;
        std::int32_t span; // bytes of the first frame, end marker included
        Bytes body;
    };
    const Case cases[] = {
        {"two leading markers",
         {0xFF, 0xFF, 0x05, 0xC2, 0x45, 0x23, 0x01, 0x00, 0x4A, 0xFF, 0xFF},
         11,
         {0x05, 0xC2, 0x45, 0x23, 0x01, 0x00, 0x4A}},
        {"no leading marker", {0x00, 0x05, 0xC2, 0xFF, 0xFF}, 5, {0x00, 0x05, 0xC2}},
        {"no end marker", {0xFF, 0x05, 0xC2, 0x45}, 4, {0x05, 0xC2, 0x45}},
        {"only markers", {0xFF, 0xFF, 0xFE}, 3, {}},
        {"stuffing twice",
         {0xFF, 0x01, 0xFF, 0xFE, 0xFF, 0xFE, 0x02, 0xFF, 0xFF},
         9,
         {0x01, 0xFF, 0xFF, 0x02}},
        {"echo, then the reply",
         {0xFF, 0x05, 0xC2, 0xFF, 0xFF, 0xFF, 0x05, 0xC2, 0x01, 0xFF, 0xFF},
         5,
         {0x05, 0xC2}},
        {"noise before the start marker",
         {0x11, 0x22, 0xFF, 0x05, 0xC2, 0xFF, 0xFF},
         2,
         {0x11, 0x22}},
    };
    for (const auto& c : cases) {
        Bytes buffer = c.in;
        std::uint8_t* start = buffer.data();
        std::int32_t count = FrameSpan(start, static_cast<std::int32_t>(buffer.size()));
        EXPECT_EQ(count, c.span) << c.name;
        ExtractFrame(start, count);
        if (c.body.empty()) {
            // Nothing to skip to: the start stays, the end marker pair cuts at once.
            EXPECT_EQ(start, buffer.data()) << c.name;
            EXPECT_EQ(count, 0) << c.name;
        } else {
            EXPECT_EQ(Bytes(start, start + count), c.body) << c.name;
        }
    }
    const Bytes good{0xFF, 0xFF, 0x05, 0xC2, 0x45, 0x23, 0x01, 0x00, 0x4A, 0xFF, 0xFF};
    Bytes buffer = good;
    std::uint8_t* start = buffer.data();
    std::int32_t count = 11;
    ExtractFrame(start, count);
    EXPECT_EQ(CalcCRC(start, count, 0), 0);

    std::uint8_t* none = nullptr;
    std::int32_t zero = 0;
    ExtractFrame(none, zero);
    EXPECT_EQ(none, nullptr);
    EXPECT_EQ(zero, 0);
}

class CodecSettings : public ::testing::Test {
protected:
    void TearDown() override { DriverSettings = TDriverSettings{}; }
};

TEST_F(CodecSettings, LengthQueryCountsAddressingAndChecksum) {
    EXPECT_EQ(LengthQuery(true, true, 5), 7);
    EXPECT_EQ(LengthQuery(true, false, 5), 6);
    EXPECT_EQ(LengthQuery(false, true, 5), 10);
    EXPECT_EQ(LengthQuery(false, false, 1), 5);

    // A node's length: its addressing property and the driver's checksum setting.
    const auto LengthFor = [](PropertySet& node, std::uint8_t base) {
        return LengthQuery(UsesNetworkAddress(node.get()), DriverSettings.CalcCRC, base);
    };
    PropertySet missing;
    PropertySet serial;
    serial.Append(kPropUseAddress, VT_BOOL, u"", platform::Variant::Bool(false));
    PropertySet nullFlag;
    nullFlag.Append(kPropUseAddress, VT_BOOL, u"", platform::Variant::Null());
    EXPECT_EQ(LengthFor(missing, 5), 7);
    EXPECT_EQ(LengthFor(nullFlag, 5), 7);
    EXPECT_EQ(LengthFor(serial, 5), 10);
    DriverSettings.CalcCRC = false;
    EXPECT_EQ(LengthFor(serial, 5), 9);
}

TEST(Codec, LogTexts) {
    EXPECT_EQ(GetPortName(0), u"COM1");
    EXPECT_EQ(GetPortName(29), u"COM30");
    EXPECT_EQ(GetPortName(45), u"COM46");
    const Bytes bytes{0x0A, 0xFF};
    EXPECT_EQ(GetStrData(bytes.data(), 2), u"0A FF ");
    EXPECT_EQ(GetStrData(nullptr, 5), u"");
    EXPECT_EQ(GetStrData(bytes.data(), 0), u"");
    EXPECT_EQ(GetStrData(bytes.data(), -1), u"");
}

#ifndef _WIN32
TEST(Codec, OpcTimeIsUtcOfTheLocalDateTime) {
    const char* old = std::getenv("TZ");
    const std::string saved = old ? old : "";
    ::setenv("TZ", "<+03>-3", 1);
    ::tzset();
    const platform::CivilTime local{2024, 1, 15, 10, 30, 0, 250};
    const FILETIME utc = DateTimeToOPCTime(platform::JoinDateTime(local));
    const platform::CivilTime expect{2024, 1, 15, 7, 30, 0, 250};
    EXPECT_EQ(platform::FileTimeTicks(utc), platform::CivilToFileTimeTicks(expect));
    if (old) {
        ::setenv("TZ", saved.c_str(), 1);
    } else {
        ::unsetenv("TZ");
    }
    ::tzset();
}
#endif

} // namespace
} // namespace vemox
