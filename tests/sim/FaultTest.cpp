// Injected faults: what each does to the bytes on the wire, which exchanges a script or a
// rate picks, and that the draws repeat for a seed.
#include "SimTestSupport.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace vemox::sim {
namespace {

using namespace std::chrono_literals;
using testing::Ask;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using testing::LineOf;

const Bytes kNetRequest{0xFF, 0x05, 0xC2, 0x86, 0xFF, 0xFF};
const Bytes kNetReply{0xFF, 0x05, 0xC2, 0x45, 0x23, 0x01, 0x00, 0x4A, 0xFF, 0xFF};
const Bytes kSerialNetRequest{0xFF, 0x00, 0x01, 0xE2, 0x40, 0xC2, 0x27, 0xFF, 0xFF};

SimConfig Scripted(Fault fault, bool checksum = true) {
    SimConfig config = LineOf(checksum);
    config.faults.script[1] = fault;
    return config;
}

struct Shaped {
    const char* name;
    Fault fault;
    Bytes request;
    Bytes reply;
};

class SimFaultBytes : public ::testing::TestWithParam<Shaped> {};

TEST_P(SimFaultBytes, ChangesTheReplySo) {
    const auto& s = GetParam();
    Simulator sim(Scripted(s.fault));
    EXPECT_EQ(Ask(sim, s.request), s.reply);
    // Only the scripted exchange is touched.
    EXPECT_EQ(Ask(sim, kNetRequest), kNetReply);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, SimFaultBytes,
    ::testing::Values(Shaped{"none", {}, kNetRequest, kNetReply},
                      Shaped{"no_reply", {FaultKind::NoReply, 0}, kNetRequest, {}},
                      Shaped{"bad_crc",
                             {FaultKind::BadChecksum, 0},
                             kNetRequest,
                             {0xFF, 0x05, 0xC2, 0x45, 0x23, 0x01, 0x00, 0x4B, 0xFF, 0xFF}},
                      Shaped{"wrong_address",
                             {FaultKind::WrongAddress, 0},
                             kNetRequest,
                             {0xFF, 0x06, 0xC2, 0x45, 0x23, 0x01, 0x00, 0x5B, 0xFF, 0xFF}},
                      Shaped{"wrong_serial",
                             {FaultKind::WrongAddress, 0},
                             kSerialNetRequest,
                             {0xFF, 0x00, 0x01, 0xE2, 0x41, 0xC2, 0x45, 0x23, 0x01, 0x00, 0xB2,
                              0xFF, 0xFF}},
                      Shaped{"wrong_length",
                             {FaultKind::WrongLength, 0},
                             kNetRequest,
                             {0xFF, 0x05, 0xC2, 0x45, 0x23, 0x01, 0x00, 0x00, 0xCF, 0xFF, 0xFF}},
                      Shaped{"cut_to_the_echo",
                             {FaultKind::WrongLength, 2},
                             kNetRequest,
                             {0xFF, 0x05, 0xC2, 0x86, 0xFF, 0xFF}},
                      Shaped{"cut_below_the_echo",
                             {FaultKind::WrongLength, 1},
                             kNetRequest,
                             {0xFF, 0x05, 0xA4, 0xFF, 0xFF}},
                      Shaped{"cut_no_shorter_than_one_byte_less",
                             {FaultKind::WrongLength, 50},
                             kNetRequest,
                             {0xFF, 0x05, 0xC2, 0x45, 0x23, 0x01, 0x45, 0xFF, 0xFF}},
                      Shaped{"late", {FaultKind::Late, 300}, kNetRequest, kNetReply},
                      Shaped{"split", {FaultKind::Split, 3}, kNetRequest, kNetReply}),
    [](const auto& test) { return std::string(test.param.name); });

TEST(SimFault, WrongAddressStaysOnTheLineAndWithoutChecksumCorruptsTheLastByte) {
    SimConfig config = Scripted({FaultKind::WrongAddress, 0});
    config.line.controllers[0].address = 159;
    Simulator sim(config);
    const Bytes reply = Ask(sim, {0xFF, 0x9F, 0xC2, 0x41, 0xFF, 0xFF});
    ASSERT_GE(reply.size(), 2u);
    EXPECT_EQ(reply[1], 1); // 159 wraps to 1, still a network address

    Simulator plain(Scripted({FaultKind::BadChecksum, 0}, false));
    EXPECT_THAT(Ask(plain, {0xFF, 0x05, 0xC2, 0xFF, 0xFF}),
                ElementsAre(0xFF, 0x05, 0xC2, 0x45, 0x23, 0x01, 0x01, 0xFF, 0xFF));
}

TEST(SimFault, LateReplyWaitsItsDelay) {
    Simulator sim(Scripted({FaultKind::Late, 300}));
    sim.Receive(kNetRequest.data(), kNetRequest.size(), 1s);
    EXPECT_THAT(sim.TakeDue(1299ms), ElementsAre());
    EXPECT_EQ(sim.NextDue(), 1300ms);
    EXPECT_EQ(sim.TakeDue(1300ms), kNetReply);
}

TEST(SimFault, SplitReplyComesInPiecesWithGaps) {
    SimConfig config = Scripted({FaultKind::Split, 3});
    config.faults.settings.splitGapMs = 20;
    Simulator sim(config);
    sim.Receive(kNetRequest.data(), kNetRequest.size(), 0s);
    EXPECT_THAT(sim.TakeDue(19ms), ElementsAre(0xFF, 0x05, 0xC2));
    EXPECT_THAT(sim.TakeDue(39ms), ElementsAre(0x45, 0x23, 0x01));
    EXPECT_THAT(sim.TakeDue(40ms), ElementsAre(0x00, 0x4A, 0xFF, 0xFF));
    EXPECT_FALSE(sim.HasOutput());
}

TEST(SimFault, JunkPrecedesAnIntactFrameAndHoldsNoMarkers) {
    SimConfig config = Scripted({FaultKind::Junk, 40});
    Simulator sim(config);
    const Bytes reply = Ask(sim, kNetRequest);
    ASSERT_EQ(reply.size(), 40 + kNetReply.size());
    for (std::size_t i = 0; i < 40; ++i) {
        EXPECT_LT(reply[i], 0xFE) << "junk byte " << i;
    }
    EXPECT_THAT(Bytes(reply.begin() + 40, reply.end()), ElementsAreArray(kNetReply));
}

TEST(SimFault, ScriptCountsOnlyAnsweredExchanges) {
    SimConfig config = LineOf(true);
    config.faults.script[2] = {FaultKind::NoReply, 0};
    Simulator sim(config);
    std::vector<std::uint64_t> numbers;
    sim.SetObserver([&](const Exchange& e) { numbers.push_back(e.number); });

    EXPECT_EQ(Ask(sim, kNetRequest), kNetReply);                                // exchange 1
    EXPECT_THAT(Ask(sim, {0xFF, 0x06, 0xC2, 0xEF, 0xFF, 0xFF}), ElementsAre()); // nobody
    EXPECT_THAT(Ask(sim, kNetRequest), ElementsAre()); // exchange 2: dropped
    EXPECT_EQ(Ask(sim, kNetRequest), kNetReply);       // exchange 3
    EXPECT_THAT(numbers, ElementsAre(1, 0, 2, 3));
}

std::vector<FaultKind> Draws(std::uint64_t seed, std::map<FaultKind, double> rates, int count) {
    SimConfig config = LineOf(true);
    config.faults.rates = std::move(rates);
    config.faults.seed = seed;
    Simulator sim(config);
    std::vector<FaultKind> kinds;
    sim.SetObserver([&](const Exchange& e) { kinds.push_back(e.fault.kind); });
    for (int i = 0; i < count; ++i) {
        Ask(sim, kNetRequest);
    }
    return kinds;
}

TEST(SimFault, RatesAreHonouredAndRepeatForASeed) {
    const std::map<FaultKind, double> rates{{FaultKind::NoReply, 0.2},
                                            {FaultKind::BadChecksum, 0.1}};
    const auto kinds = Draws(42, rates, 5000);
    const auto share = [&](FaultKind kind) {
        return static_cast<double>(std::count(kinds.begin(), kinds.end(), kind)) / kinds.size();
    };
    EXPECT_NEAR(share(FaultKind::NoReply), 0.2, 0.03);
    EXPECT_NEAR(share(FaultKind::BadChecksum), 0.1, 0.03);
    EXPECT_NEAR(share(FaultKind::None), 0.7, 0.03);

    EXPECT_EQ(Draws(42, rates, 200), std::vector<FaultKind>(kinds.begin(), kinds.begin() + 200));
    EXPECT_NE(Draws(43, rates, 200), std::vector<FaultKind>(kinds.begin(), kinds.begin() + 200));

    const auto always = Draws(1, {{FaultKind::WrongLength, 1.0}}, 50);
    EXPECT_EQ(std::count(always.begin(), always.end(), FaultKind::WrongLength), 50);
}

TEST(SimFault, ConfigurationsThatCannotBePlayed) {
    FaultConfig faults;
    EXPECT_EQ(CheckFaults(faults), std::nullopt);
    faults.rates = {{FaultKind::NoReply, 0.6}, {FaultKind::Late, 0.5}};
    EXPECT_NE(CheckFaults(faults), std::nullopt);
    faults.rates = {{FaultKind::NoReply, -0.1}};
    EXPECT_NE(CheckFaults(faults), std::nullopt);
    faults.rates = {};
    faults.script[0] = {FaultKind::NoReply, 0};
    EXPECT_NE(CheckFaults(faults), std::nullopt);
    faults.script = {{1, {FaultKind::Split, 1}}};
    EXPECT_NE(CheckFaults(faults), std::nullopt);
}

} // namespace
} // namespace vemox::sim
