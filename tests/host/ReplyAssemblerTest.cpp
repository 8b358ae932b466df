#include "host/line/ReplyAssembler.h"

#include <gtest/gtest.h>

#include <vector>

namespace vemox::host {
namespace {

using Bytes = std::vector<std::uint8_t>;

struct Arrival {
    std::int64_t atMs;
    Bytes bytes;
};

struct AssemblyCase {
    const char* name;
    std::vector<Arrival> arrivals;
    std::int64_t checkAtMs;      // Take is tried after every arrival and once more here
    std::vector<Bytes> expected; // the replies, in order
};

constexpr std::int64_t kGapMs = 50;

class ReplyAssemblyTest : public ::testing::TestWithParam<AssemblyCase> {};

TEST_P(ReplyAssemblyTest, DeliversWholeReplies) {
    const AssemblyCase& c = GetParam();
    ReplyAssembler assembler(kGapMs);
    std::vector<Bytes> got;
    for (const Arrival& arrival : c.arrivals) {
        assembler.Feed(arrival.bytes.data(), arrival.bytes.size(), arrival.atMs);
        while (auto reply = assembler.Take(arrival.atMs)) {
            got.push_back(*reply);
        }
    }
    while (auto reply = assembler.Take(c.checkAtMs)) {
        got.push_back(*reply);
    }
    EXPECT_EQ(got, c.expected);
}

const Bytes kNetReply = {0xFF, 0x05, 0xC2, 0x45, 0x23, 0x01, 0x00, 0x4A, 0xFF, 0xFF};

INSTANTIATE_TEST_SUITE_P(
    Frames, ReplyAssemblyTest,
    ::testing::Values(
        AssemblyCase{"WholeFrameAtOnce", {{0, kNetReply}}, 0, {kNetReply}},
        AssemblyCase{"SplitFrameJoined",
                     {{0, {0xFF, 0x05, 0xC2}},
                      {10, {0x45, 0x23, 0x01, 0x00}},
                      {20, {0x4A, 0xFF}},
                      {30, {0xFF}}},
                     30,
                     {kNetReply}},
        AssemblyCase{"SplitFrameNotCutBeforeGap", {{0, {0xFF, 0x05, 0xC2}}, {40, {0x45}}}, 80, {}},
        AssemblyCase{
            "TwoFramesInOneRead",
            {{0, {0xFF, 0x01, 0xBF, 0x03, 0xFF, 0xFF, 0xFF, 0x02, 0xBF, 0x04, 0xFF, 0xFF}}},
            0,
            {{0xFF, 0x01, 0xBF, 0x03, 0xFF, 0xFF}, {0xFF, 0x02, 0xBF, 0x04, 0xFF, 0xFF}}},
        AssemblyCase{"StuffedMarkerInsideBody",
                     {{0, {0xFF, 0x27, 0xC4, 0xFF, 0xFE, 0xFF, 0xFF}}},
                     0,
                     {{0xFF, 0x27, 0xC4, 0xFF, 0xFE, 0xFF, 0xFF}}},
        AssemblyCase{"DoubleStartMarkerIsNotAnEnd",
                     {{0, {0xFF, 0xFF, 0x05, 0xC2, 0x01, 0xFF, 0xFF}}},
                     0,
                     {{0xFF, 0xFF, 0x05, 0xC2, 0x01, 0xFF, 0xFF}}},
        AssemblyCase{"JunkWithoutEndMarkerAfterGap", {{0, {0x12, 0x34}}}, kGapMs, {{0x12, 0x34}}},
        AssemblyCase{"CutFrameDeliveredAfterGap",
                     {{0, {0xFF, 0x05, 0xC2, 0x45}}},
                     kGapMs + 5,
                     {{0xFF, 0x05, 0xC2, 0x45}}},
        AssemblyCase{"GapCountsFromLastByte", {{0, {0xFF, 0x05}}, {45, {0xC2}}}, 60, {}}),
    [](const auto& param) { return std::string(param.param.name); });

} // namespace
} // namespace vemox::host
