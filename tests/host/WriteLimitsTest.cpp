// The values the write gate passes and refuses before anything goes out, and the decimal
// places the host reads from a net weight reply on its way to the driver.
#include "host/session/WriteLimits.h"

#include "protocol/Codec.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace vemox::host {
namespace {

struct Limit {
    const char* name;
    Operation operation;
    AskedValue asked;
    std::optional<int> decimals;
    std::string refusal; // empty: the value is written, as `sent`
    VARTYPE sent = VT_EMPTY;
};

class WriteGateTest : public ::testing::TestWithParam<Limit> {};

TEST_P(WriteGateTest, PassesOnlyWhatTheItemTakes) {
    const Limit& c = GetParam();
    ItemConfig item;
    item.operation = &OperationAt(static_cast<int>(c.operation));
    const GateAnswer answer = GateWrite(item, c.asked, c.decimals);
    EXPECT_EQ(answer.refusal, c.refusal);
    EXPECT_EQ(answer.value ? answer.value->type() : VARTYPE{VT_EMPTY}, c.sent);
}

const std::string kTwoPlaces = "outside 0 .. 9999.99 (2 decimal places)";
const std::string kOnOff = "takes only 0, 1, true, false, on or off";
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr auto kWeight = Operation::WeightPoints;
constexpr auto kDosing = Operation::DosingControl;
constexpr auto kOutput = Operation::DigitalOutputs;

// Where a level's line lies is the driver's own conversion, tested with it; here: that the
// host asks it, and what the refusal says for each number of decimal places.
INSTANTIATE_TEST_SUITE_P(
    Values, WriteGateTest,
    ::testing::Values(
        Limit{"LevelNegative", kWeight, "-5", 2, kTwoPlaces},
        Limit{"LevelFarAbove", kWeight, 1e9, 2, kTwoPlaces},
        Limit{"LevelSeventhDigit", kWeight, "10000", 2, kTwoPlaces},
        Limit{"LevelHighest", kWeight, 9999.99, 2, "", VT_R8},
        Limit{"LevelWholeUnitsAbove", kWeight, "1000000", 0,
              "outside 0 .. 999999 (0 decimal places)"},
        Limit{"LevelSevenPlaces", kWeight, 0.1, 7, "outside 0 .. 0.0999999 (7 decimal places)"},
        Limit{"LevelBeforeItsPlacesAreKnown", kWeight, "1e9", std::nullopt, "", VT_R8},
        Limit{"LevelOn", kWeight, "on", 1, "a level is a number, not on or off"},
        Limit{"LevelNotANumber", kWeight, kNaN, 2, "not a finite number"},
        Limit{"DosingAbove", kDosing, "256", 0, "outside 0 .. 255 (or true, false)"},
        Limit{"DosingFraction", kDosing, 2.5, 0,
              "not a whole number; dosing takes 0 .. 255 (or true, false)"},
        Limit{"DosingTrue", kDosing, "true", 0, "", VT_BOOL},
        Limit{"OutputAnyValue", kOutput, "-7", 0, kOnOff},
        Limit{"OutputTiny", kOutput, "-1e-300", 0, kOnOff},
        Limit{"OutputWithUnit", kOutput, "1kg", 0,
              "'1kg' is not a value: give true, false, on, off or a number"}),
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
