// The values the host refuses before a write goes out, and the decimal places it reads from
// a net weight reply on its way to the driver.
#include "host/session/WriteLimits.h"

#include "platform/Com.h"
#include "protocol/Codec.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace vemox::host {
namespace {

using platform::Variant;

struct Limit {
    const char* name;
    Operation operation;
    Variant value;
    int decimals;
    std::string refusal; // empty: the value is written
};

class WriteLimitTest : public ::testing::TestWithParam<Limit> {};

TEST_P(WriteLimitTest, IsJudgedByTheControllersRange) {
    const Limit& c = GetParam();
    EXPECT_EQ(RefusedWrite(c.operation, c.value.get(), c.decimals).value_or(""), c.refusal);
}

const std::string kTwoPlaces = "outside 0 .. 9999.99 (2 decimal places)";
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Where the line lies is the driver's own conversion, tested with it; here: that the host
// asks it, and what the refusal says for each number of decimal places.
INSTANTIATE_TEST_SUITE_P(
    Values, WriteLimitTest,
    ::testing::Values(
        Limit{"LevelNegative", Operation::WeightPoints, Variant::Int32(-5), 2, kTwoPlaces},
        Limit{"LevelFarAbove", Operation::WeightPoints, Variant::Int32(1000000000), 2, kTwoPlaces},
        Limit{"LevelSeventhDigit", Operation::WeightPoints, Variant::Int32(10000), 2, kTwoPlaces},
        Limit{"LevelHighest", Operation::WeightPoints, Variant::Double(9999.99), 2, ""},
        Limit{"LevelWholeUnitsAbove", Operation::WeightPoints, Variant::Int32(1000000), 0,
              "outside 0 .. 999999 (0 decimal places)"},
        Limit{"LevelSevenPlaces", Operation::WeightPoints, Variant::Double(0.1), 7,
              "outside 0 .. 0.0999999 (7 decimal places)"},
        Limit{"LevelOnePlace", Operation::WeightPoints, Variant::Bool(true), 1,
              "outside 0 .. 99999.9 (1 decimal place)"},
        Limit{"LevelNotANumber", Operation::WeightPoints, Variant::Double(kNaN), 2,
              "not a finite number; a level lies in 0 .. 9999.99 (2 decimal places)"},
        Limit{"DosingAbove", Operation::DosingControl, Variant::Int32(256), 0,
              "outside 0 .. 255 (or true, false)"},
        Limit{"DosingTrue", Operation::DosingControl, Variant::Bool(true), 0, ""},
        Limit{"OutputAnyValue", Operation::DigitalOutputs, Variant::Int32(-7), 0, ""}),
    [](const auto& param) { return std::string(param.param.name); });

// A reply frame from its body; the checksum appended when the line has one.
std::vector<std::uint8_t> Reply(std::vector<std::uint8_t> body, bool withCrc) {
    if (withCrc) {
        body.push_back(CalcCRC(body.data(), static_cast<std::int32_t>(body.size()), 1));
    }
    return WrapFrame(body.data(), static_cast<std::int32_t>(body.size()));
}

TEST(NetWeightStatusTest, ComesOnlyFromANetWeightReplyOfThatController) {
    const Addressing address5{true, 5, 0};
    const Addressing serial{false, 0, 123456};
    const std::vector<std::uint8_t> net5 = {0x05, 0xC2, 0x45, 0x23, 0x01, 0x82};
    EXPECT_EQ(NetWeightStatus(Reply(net5, true), address5, true), 0x82);
    EXPECT_EQ(NetWeightStatus(Reply(net5, false), address5, false), 0x82);
    EXPECT_EQ(DecimalsOf(0x82), 2);
    EXPECT_EQ(NetWeightStatus(Reply({0x00, 0x01, 0xE2, 0x40, 0xC2, 0x45, 0x23, 0x01, 0x03}, true),
                              serial, true),
              0x03);

    std::vector<std::uint8_t> corrupted = Reply(net5, true);
    corrupted[corrupted.size() - 3] ^= 0x01;
    const std::vector<std::vector<std::uint8_t>> others = {
        corrupted,
        Reply({0x06, 0xC2, 0x45, 0x23, 0x01, 0x82}, true),       // another controller
        Reply({0x05, 0xC3, 0x45, 0x23, 0x01, 0x82}, true),       // gross weight
        Reply({0x05, 0xC2}, true),                               // the line's own echo
        Reply({0x05, 0xC2, 0x45, 0x23, 0x01, 0x82, 0x00}, true), // one byte too many
        {}};
    for (const auto& bytes : others) {
        EXPECT_FALSE(NetWeightStatus(bytes, address5, true)) << ::testing::PrintToString(bytes);
    }
}

} // namespace
} // namespace vemox::host
