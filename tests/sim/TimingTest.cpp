// Line-rate emulation: when each reply byte is due at a given baud rate and turnaround.
#include "SimTestSupport.h"

#include "sim/Mismatch.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace vemox::sim {
namespace {

using namespace std::chrono_literals;
using testing::LineOf;
using ::testing::SizeIs;

const Bytes kNetRequest{0xFF, 0x05, 0xC2, 0x86, 0xFF, 0xFF};
constexpr std::size_t kNetReplySize = 10;

TEST(SimTiming, CharacterTimesAtCommonRates) {
    struct Case {
        std::uint32_t baud;
        std::uint64_t index;
        std::int64_t ns;
    };
    for (const auto& c :
         {Case{9600, 1, 1041666}, Case{9600, 9, 9375000}, Case{9600, 960, 1000000000},
          Case{115200, 1, 86805}, Case{1200, 3, 25000000}, Case{0, 1000, 0}}) {
        const LineTiming timing{c.baud, 0ms};
        EXPECT_EQ(timing.ByteDue(SimTime{0}, c.index).count(), c.ns)
            << c.baud << " baud, byte " << c.index;
        EXPECT_EQ(timing.ByteDue(5ms, c.index), 5ms + SimTime(c.ns));
    }
}

SimConfig AtRate(std::uint32_t baud, SimTime turnaround) {
    SimConfig config = LineOf(true);
    config.timing = {baud, turnaround};
    return config;
}

// A byte is due when a receiver has all of it: one character time after its start bit.
TEST(SimTiming, ReplyStartsAfterTurnaroundAndGoesOutAtLineRate) {
    Simulator sim(AtRate(9600, 5ms));
    sim.Receive(kNetRequest.data(), kNetRequest.size(), 100ms);
    const SimTime start = 105ms;
    EXPECT_EQ(sim.NextDue(), start + 1041666ns);
    EXPECT_THAT(sim.TakeDue(start + 1041666ns - 1ns), SizeIs(0));
    EXPECT_THAT(sim.TakeDue(start + 1041666ns), SizeIs(1));
    EXPECT_THAT(sim.TakeDue(start + 2083333ns), SizeIs(1));
    // The last of the ten bytes is complete ten character times after the start.
    EXPECT_THAT(sim.TakeDue(start + 10416666ns - 1ns), SizeIs(kNetReplySize - 3));
    EXPECT_THAT(sim.TakeDue(start + 10416666ns), SizeIs(1));
    EXPECT_FALSE(sim.HasOutput());
    EXPECT_EQ(sim.NextDue(), std::nullopt);
}

TEST(SimTiming, ANewRequestWaitsForTheLineToBeFree) {
    Simulator sim(AtRate(9600, 1ms));
    sim.Receive(kNetRequest.data(), kNetRequest.size(), 0ms);
    sim.Receive(kNetRequest.data(), kNetRequest.size(), 2ms);
    // The first reply occupies the line from 1 ms for ten character times (10'416'666.7 ns).
    const SimTime free = 1ms + 10416666ns;
    EXPECT_THAT(sim.TakeDue(free), SizeIs(kNetReplySize));
    EXPECT_EQ(sim.NextDue(), free + 1041666ns);
    EXPECT_THAT(sim.TakeDue(SimTime::max()), SizeIs(kNetReplySize));
}

TEST(SimTiming, AnEchoingLineGivesTheRequestBackAtOnceAndTheReplyAfterIt) {
    SimConfig config = AtRate(9600, 5ms);
    config.line.echo = true;
    Simulator sim(config);
    sim.Receive(kNetRequest.data(), 2, 100ms);
    EXPECT_EQ(sim.TakeDue(100ms), Bytes(kNetRequest.begin(), kNetRequest.begin() + 2));
    sim.Receive(kNetRequest.data() + 2, kNetRequest.size() - 2, 101ms);
    EXPECT_EQ(sim.TakeDue(101ms), Bytes(kNetRequest.begin() + 2, kNetRequest.end()));
    EXPECT_EQ(sim.NextDue(), 106ms + 1041666ns);
    EXPECT_THAT(sim.TakeDue(SimTime::max()), SizeIs(kNetReplySize));
    // A request that arrives while a reply is still going out comes back ahead of its rest.
    sim.Receive(kNetRequest.data(), kNetRequest.size(), 200ms);
    sim.TakeDue(200ms);
    sim.Receive(kNetRequest.data() + 1, 1, 207ms);
    EXPECT_EQ(sim.TakeDue(207ms), (Bytes{0xFF, 0x05})) << "the reply's first byte, then the echo";
    EXPECT_THAT(sim.TakeDue(SimTime::max()), SizeIs(kNetReplySize - 1));
}

TEST(SimTiming, FaultDelaysAddToLineTime) {
    SimConfig config = AtRate(9600, 2ms);
    config.faults.script[1] = {FaultKind::Late, 50};
    config.faults.script[2] = {FaultKind::Split, 2};
    config.faults.settings.splitGapMs = 10;
    Simulator sim(config);
    std::vector<Exchange> seen;
    sim.SetObserver([&](const Exchange& e) { seen.push_back(e); });

    sim.Receive(kNetRequest.data(), kNetRequest.size(), 0ms);
    EXPECT_EQ(sim.NextDue(), 52ms + 1041666ns);
    sim.TakeDue(SimTime::max());

    sim.Receive(kNetRequest.data(), kNetRequest.size(), 1s);
    EXPECT_THAT(sim.TakeDue(1002ms + 5208333ns), SizeIs(5)); // first half
    // The second half starts a gap after the first half has left the line.
    const SimTime second = 1002ms + 5208333ns + 10ms;
    EXPECT_EQ(sim.NextDue(), second + 1041666ns);
    EXPECT_THAT(sim.TakeDue(SimTime::max()), SizeIs(5));
    ASSERT_THAT(seen, SizeIs(2));
    EXPECT_EQ(seen[0].firstDue, 52ms);
    EXPECT_EQ(seen[1].firstDue, 1002ms);
}

// A receiver at another rate samples the wrong bits: at twice the rate a start bit lasts two
// bits and 0xFF is heard as 0xFE; at half the rate two bytes fit in one. A frame at a wrong
// rate is no frame at all, and at the same rate nothing changes.
TEST(SimTiming, BytesSentAtAnotherRateAreHeardGarbled) {
    struct Case {
        Bytes sent;
        std::uint32_t sentBaud;
        std::uint32_t heardBaud;
        Bytes heard;
    };
    for (const Case& c :
         {Case{{0xFF}, 9600, 19200, {0xFE}}, Case{{0x00}, 9600, 19200, {0x00}},
          Case{{0xFF, 0xFF}, 19200, 9600, {0xFF}}, Case{kNetRequest, 19200, 19200, kNetRequest}}) {
        EXPECT_EQ(HeardAt(c.sent, c.sentBaud, c.heardBaud), c.heard)
            << c.sentBaud << " -> " << c.heardBaud;
    }
    for (const auto& [sent, heard] : {std::pair{9600u, 19200u}, std::pair{19200u, 9600u},
                                      std::pair{1200u, 115200u}, std::pair{57600u, 38400u}}) {
        const Bytes bytes = HeardAt(kNetRequest, sent, heard);
        FrameParser parser;
        EXPECT_TRUE(parser.Feed(bytes.data(), bytes.size()).empty()) << sent << " -> " << heard;
    }
}

} // namespace
} // namespace vemox::sim
