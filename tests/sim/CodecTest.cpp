// The simulator's own codec: checksum check values, BCD, stuffing and the stream parser.
#include "sim/Bcd.h"
#include "sim/Crc8.h"
#include "sim/Frame.h"

#include <algorithm>
#include <cctype>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <string>

namespace vemox::sim {
namespace {

using ::testing::ElementsAre;

Bytes Ascii(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

TEST(SimCrc8, CheckValuesAndSelfTest) {
    EXPECT_EQ(Crc8(Ascii("abc")), 0xFD);
    EXPECT_EQ(Crc8(Ascii("123456789")), 0xE7);
    EXPECT_EQ(Crc8(Bytes{}), 0x00);
    // A body followed by its own checksum checks to zero.
    EXPECT_EQ(Crc8(Bytes{'a', 'b', 'c', 0xFD}), 0x00);
    EXPECT_EQ(Crc8(Bytes{0x05, 0xC2}), 0x86);
    EXPECT_EQ(Crc8(Bytes{0x27, 0xC4}), 0xFF);
}

TEST(SimBcd, LeastSignificantByteFirst) {
    Bytes out;
    AppendBcd(out, 12345, 3);
    EXPECT_THAT(out, ElementsAre(0x45, 0x23, 0x01));
    out.clear();
    AppendBcd(out, 9876543210ULL, 5);
    EXPECT_THAT(out, ElementsAre(0x10, 0x32, 0x54, 0x76, 0x98));
    out.clear();
    AppendBcd(out, 1000000, 3); // the seventh digit does not fit
    EXPECT_THAT(out, ElementsAre(0x00, 0x00, 0x00));

    const Bytes level{0x00, 0x10, 0x00};
    EXPECT_EQ(ReadBcd(level.data(), 3), 1000u);
    const Bytes bad{0x0A, 0x00, 0x00};
    EXPECT_EQ(ReadBcd(bad.data(), 3), std::nullopt);
    const Bytes badHigh{0xA0, 0x00, 0x00};
    EXPECT_EQ(ReadBcd(badHigh.data(), 3), std::nullopt);
}

TEST(SimFrame, WrapStuffsEveryMarkerByte) {
    EXPECT_THAT(WrapFrame({0x05, 0xC2, 0x86}), ElementsAre(0xFF, 0x05, 0xC2, 0x86, 0xFF, 0xFF));
    EXPECT_THAT(WrapFrame({0x27, 0xC4, 0xFF}),
                ElementsAre(0xFF, 0x27, 0xC4, 0xFF, 0xFE, 0xFF, 0xFF));
    EXPECT_THAT(WrapFrame({0xFF, 0xFF}), ElementsAre(0xFF, 0xFF, 0xFE, 0xFF, 0xFE, 0xFF, 0xFF));
}

struct ParseCase {
    const char* name;
    Bytes stream;
    std::vector<Bytes> bodies;
};

class SimFrameParser : public ::testing::TestWithParam<ParseCase> {};

TEST_P(SimFrameParser, FindsTheBodies) {
    const auto& c = GetParam();
    FrameParser parser;
    EXPECT_EQ(parser.Feed(c.stream.data(), c.stream.size()), c.bodies);

    // Byte by byte gives the same result: a read may end anywhere.
    FrameParser bytewise;
    std::vector<Bytes> got;
    for (const auto b : c.stream) {
        if (auto body = bytewise.Feed(b)) {
            got.push_back(*body);
        }
    }
    EXPECT_EQ(got, c.bodies);
}

INSTANTIATE_TEST_SUITE_P(
    Streams, SimFrameParser,
    ::testing::Values(
        ParseCase{"plain", {0xFF, 0x05, 0xC2, 0x86, 0xFF, 0xFF}, {{0x05, 0xC2, 0x86}}},
        ParseCase{"stuffed", {0xFF, 0x27, 0xC4, 0xFF, 0xFE, 0xFF, 0xFF}, {{0x27, 0xC4, 0xFF}}},
        ParseCase{"junk and extra start markers",
                  {0x00, 0x13, 0xFE, 0xFF, 0xFF, 0xFF, 0x05, 0xC2, 0xFF, 0xFF},
                  {{0x05, 0xC2}}},
        ParseCase{"two frames back to back",
                  {0xFF, 0x05, 0xC2, 0xFF, 0xFF, 0xFF, 0x06, 0xC3, 0xFF, 0xFF},
                  {{0x05, 0xC2}, {0x06, 0xC3}}},
        ParseCase{"a cut-off frame does not swallow the next",
                  {0xFF, 0x05, 0xC2, 0xFF, 0x06, 0xC3, 0xFF, 0xFF},
                  {{0x06, 0xC3}}},
        ParseCase{"no end marker yet", {0xFF, 0x05, 0xC2, 0x86}, {}},
        ParseCase{"noise longer than any body is dropped",
                  [] {
                      // Sized once and filled in place: growing a one-byte vector here makes
                      // GCC 12's optimiser warn about a copy it then never does.
                      const Bytes tail{0xFF, 0xFF, 0xFF, 0x05, 0xC2, 0xFF, 0xFF};
                      Bytes s(1 + FrameParser::kMaxBody + 1 + tail.size(), 0x11);
                      s.front() = 0xFF;
                      std::copy(tail.begin(), tail.end(), s.end() - tail.size());
                      return s;
                  }(),
                  {{0x05, 0xC2}}}),
    [](const auto& test) {
        std::string name = test.param.name;
        for (auto& ch : name) {
            if (!std::isalnum(static_cast<unsigned char>(ch))) {
                ch = '_';
            }
        }
        return name;
    });

} // namespace
} // namespace vemox::sim
