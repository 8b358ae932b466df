// Whole exchanges through the driver's public interfaces: tasks in, frames out through the
// host's port service, replies in, item states and completions out. The clock is the test's.
#include "ExchangeFixture.h"
#include "fakes/HostFloatState.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace vemox {
namespace {

using namespace testing;
using platform::Variant;

std::uint64_t Bits(double value) {
    std::uint64_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

TEST_F(OnLine, OneAsynchronousReadEndToEnd) {
    PropertySet node = NetworkNode(0, 5);
    PropertySet item = Item(u"Вес Нетто");
    HostTask& task = Task(tAsyncRead, 77, node, item);
    ASSERT_EQ(driver_->RunTasks(0), S_OK);

    driver_->Execute();
    const Bytes request{0xFF, 0x05, 0xC2, 0x86, 0xFF, 0xFF};
    ASSERT_EQ(com_.calls.size(), 3u);
    EXPECT_EQ(com_.calls[0].kind, PortCall::Capture);
    EXPECT_EQ(com_.calls[1].kind, PortCall::Write);
    EXPECT_EQ(com_.calls[1].bytes, request);
    EXPECT_EQ(com_.calls[2].kind, PortCall::Service);
    ASSERT_EQ(server_.log.size(), 1u);
    EXPECT_EQ(server_.log[0], "COM1 Tx: FF 05 C2 86 FF FF ");
    EXPECT_EQ(server_.logKinds[0], 1);
    EXPECT_TRUE(task.item.completions.empty()) << "nothing completes before the reply";

    clock_.Advance(120);
    Reply({0xFF, 0x05, 0xC2, 0x45, 0x23, 0x01, 0x00, 0x4A, 0xFF, 0xFF});
    EXPECT_EQ(com_.calls.back().kind, PortCall::Release);
    EXPECT_EQ(server_.log.back(), "COM1 Rx: FF 05 C2 45 23 01 00 4A FF FF ");
    EXPECT_EQ(task.state.vDataValue.vt, VT_R8);
    EXPECT_EQ(task.state.vDataValue.dblVal, 12345.0);
    EXPECT_EQ(task.state.wQuality, 192);
    EXPECT_EQ(platform::FileTimeTicks(task.state.ftTimeStamp),
              platform::FileTimeTicks(clock_.UtcNow()));
    ASSERT_EQ(task.item.completions.size(), 1u);
    EXPECT_EQ(task.item.completions[0].kind, testing::Completion::Read);
    EXPECT_EQ(task.item.completions[0].transactId, 77u);
    EXPECT_EQ(task.item.completions[0].result, S_OK);
    ASSERT_EQ(task.item.exchanges.size(), 1u);
    EXPECT_EQ(task.item.exchanges[0].answered, 1u);
    EXPECT_EQ(task.item.exchanges[0].retries, 0u);
    EXPECT_EQ(task.item.exchanges[0].first, 1);
    EXPECT_TRUE(PortDriver->WaitingTasks().empty());
    EXPECT_TRUE(Ports[0].Commands.empty());
    EXPECT_EQ(Unsettled(task.item, {77}), "");
}

TEST_F(OnLine, UnansweredReadIsWrittenThreeTimesThenFailsAsNotAnswering) {
    PropertySet node = NetworkNode(0, 5);
    PropertySet item = Item(u"Вес Нетто");
    HostTask& task = Task(tAsyncRead, 5, node, item);
    driver_->RunTasks(0);

    double lastWrite = 0;
    for (int attempt = 1; attempt <= 3; ++attempt) {
        driver_->Execute();
        ASSERT_EQ(Writes(), static_cast<std::size_t>(attempt));
        lastWrite = platform::LocalNow();
        clock_.Advance(2999);
        driver_->Execute();
        EXPECT_EQ(Writes(), static_cast<std::size_t>(attempt)) << "2999 ms is not a time-out";
        EXPECT_TRUE(task.item.completions.empty());
        clock_.Advance(1);
        driver_->Execute(); // 3000 ms: time-out, handed to reply handling
    }
    EXPECT_EQ(Writes(), 3u);
    ASSERT_EQ(task.item.completions.size(), 1u);
    EXPECT_EQ(task.item.completions[0].result, kOutcomeNotAnswer);
    EXPECT_EQ(task.state.wQuality, 0x0218);
    EXPECT_EQ(platform::FileTimeTicks(task.state.ftTimeStamp),
              platform::FileTimeTicks(
                  DateTimeToOPCTime(lastWrite + 3000 / platform::kMillisecondsPerDay)));
    EXPECT_EQ(task.state.vDataValue.vt, VT_EMPTY) << "the item keeps its value";
    ASSERT_EQ(task.item.exchanges.size(), 1u);
    EXPECT_EQ(task.item.exchanges[0].answered, 0u);
    EXPECT_EQ(task.item.exchanges[0].retries, 3u);
    int unreachable = 0;
    for (const auto& line : server_.log) {
        unreachable += line == "COM1 Адрес 5: устройство не доступно" ? 1 : 0;
    }
    EXPECT_EQ(unreachable, 1);
    const TDevice& device = Ports[0].Devices[0];
    EXPECT_EQ(device.State, sdNotAnswer);
    EXPECT_FALSE(device.TryConnect);
    EXPECT_EQ(Unsettled(task.item, {5}), "");
}

TEST_F(OnLine, SilentControllerIsWrittenOnlyOncePerTimeNextSend) {
    DriverSettings.CountTry = 1;
    PropertySet node = NetworkNode(2, 7);
    PropertySet item = Item(u"Состояние", kPropStateBit, 0);
    HostTask& first = Task(tAsyncRead, 1, node, item);
    driver_->RunTasks(0);
    driver_->Execute();
    clock_.Advance(3000);
    driver_->Execute();
    ASSERT_EQ(first.item.completions.size(), 1u);
    ASSERT_EQ(Writes(), 1u);

    // 57000 ms after the write: captured, not written, failed in the same cycle.
    clock_.Advance(56999);
    HostTask& paced = Task(tAsyncRead, 2, node, item);
    driver_->RunTasks(0);
    driver_->Execute();
    EXPECT_EQ(Writes(), 1u);
    ASSERT_EQ(paced.item.completions.size(), 1u);
    EXPECT_EQ(paced.item.completions[0].result, kOutcomeNotAnswer);
    EXPECT_TRUE(paced.item.exchanges.empty()) << "nothing was written, nothing to report";
    EXPECT_EQ(com_.calls.back().kind, PortCall::Release);

    clock_.Advance(1); // 60000 ms after the last write
    HostTask& due = Task(tAsyncRead, 3, node, item);
    driver_->RunTasks(0);
    driver_->Execute();
    EXPECT_EQ(Writes(), 2u);
    EXPECT_TRUE(due.item.completions.empty());
    Reply(Framed({0x07, 0xBF, 0x01}), 2);
    ASSERT_EQ(due.item.completions.size(), 1u);
    EXPECT_EQ(due.item.completions[0].result, S_OK);
    EXPECT_EQ(due.state.vDataValue.lVal, 1);
    EXPECT_TRUE(Ports[0].Devices[0].TryConnect) << "a reply restores repeats";
    EXPECT_EQ(Unsettled(first.item, {1}) + Unsettled(paced.item, {2}) + Unsettled(due.item, {3}),
              "");
}

TEST_F(OnLine, RepeatsStopAt255WritesWhateverCountTrySays) {
    DriverSettings.CountTry = 1000;
    DriverSettings.WaitTimeout = 10;
    PropertySet node = NetworkNode(0, 5);
    PropertySet item = Item(u"Вес Брутто");
    HostTask& task = Task(tAsyncRead, 9, node, item);
    driver_->RunTasks(0);
    RunUntilDone(task, 10, 2000);
    EXPECT_EQ(Writes(), 255u);
    ASSERT_EQ(task.item.completions.size(), 1u);
    EXPECT_EQ(task.item.exchanges[0].retries, 255u);
    EXPECT_EQ(Unsettled(task.item, {9}), "");
}

TEST_F(OnLine, RefusedWriteIsLoggedAndRunsIntoTheTimeOut) {
    DriverSettings.CountTry = 1;
    com_.writeAnswer = 1;
    PropertySet node = NetworkNode(3, 5);
    PropertySet item = Item(u"Вес Нетто");
    HostTask& task = Task(tSyncRead, 4, node, item);
    driver_->RunTasks(0);
    driver_->Execute();
    ASSERT_EQ(server_.log.size(), 1u);
    EXPECT_EQ(server_.log[0], "COM4: Ошибка при записи в порт");
    EXPECT_EQ(Ports[0].Devices[0].State, sdFailed);
    EXPECT_EQ(Ports[0].Commands.front()->TryCount, 1);
    clock_.Advance(3000);
    driver_->Execute();
    EXPECT_EQ(task.result, kOutcomeNotAnswer);
    EXPECT_EQ(task.state.wQuality, 0x0218);
}

TEST_F(OnLine, NothingHappensWithoutPortsAndServiceReachesIdlePorts) {
    driver_->Execute();
    EXPECT_TRUE(com_.calls.empty());
    EXPECT_TRUE(server_.log.empty());

    com_.captureAnswer = false;
    PropertySet node = NetworkNode(1, 5);
    PropertySet item = Item(u"Вес Нетто");
    HostTask& task = Task(tAsyncRead, 1, node, item);
    driver_->RunTasks(0);
    for (int i = 0; i < 3; ++i) {
        clock_.Advance(100000);
        driver_->Execute();
    }
    EXPECT_EQ(Writes(), 0u) << "a port never granted is never written";
    EXPECT_TRUE(task.item.completions.empty()) << "and never times out";
    EXPECT_EQ(Ports[0].Commands.front()->State, csWaiting);
    const auto kinds = Kinds();
    EXPECT_EQ(std::count(kinds.begin(), kinds.end(), PortCall::Service), 3);
}

TEST_F(OnLine, BytesWithoutAnActiveRequestAreOnlyLogged) {
    Reply({0xFF, 0x05, 0xC2, 0xFF, 0xFF}, 4);
    ASSERT_EQ(server_.log.size(), 2u);
    EXPECT_EQ(server_.log[0], "COM5 Rx: FF 05 C2 FF FF ");
    EXPECT_EQ(server_.log[1], "Получены не ожидаемые данные");

    PropertySet node = NetworkNode(4, 5);
    PropertySet item = Item(u"Вес Нетто");
    HostTask& task = Task(tAsyncRead, 1, node, item);
    driver_->RunTasks(0);
    Reply({0xFF, 0x05, 0xC2, 0x45, 0x23, 0x01, 0x00, 0x4A, 0xFF, 0xFF}, 4); // still csWaiting
    EXPECT_TRUE(task.item.completions.empty());
    EXPECT_EQ(server_.log.back(), "Получены не ожидаемые данные");
    EXPECT_TRUE(com_.calls.empty()) << "the port is not released: it was never captured";

    // A call without data and without an active request does nothing at all.
    const std::size_t lines = server_.log.size();
    receive_->OnReceiveData(4, nullptr, 0);
    EXPECT_EQ(server_.log.size(), lines);
}

TEST_F(OnLine, NegativeSizeIsACallWithoutData) {
    PropertySet node = NetworkNode(0, 5);
    PropertySet item = Item(u"Вес Нетто");
    HostTask& task = Task(tAsyncRead, 1, node, item);
    driver_->RunTasks(0);
    driver_->Execute();
    const Bytes garbage(16, 0x11);
    const std::size_t lines = server_.log.size();
    receive_->OnReceiveData(0, garbage.data(), -5);
    EXPECT_EQ(server_.log.size(), lines) << "no Rx line: nothing was received";
    EXPECT_EQ(com_.calls.back().kind, PortCall::Release);
    EXPECT_EQ(Ports[0].Commands.front()->State, csWaiting) << "handled as a missing reply";
    EXPECT_TRUE(task.item.completions.empty());
}

TEST_F(OnLine, PurgeActionsGivesBackCapturedPortsAndCompletesNothing) {
    PropertySet node0 = NetworkNode(0, 5);
    PropertySet node1 = NetworkNode(1, 5);
    PropertySet item = Item(u"Вес Нетто");
    HostTask& active = Task(tAsyncRead, 1, node0, item);
    HostTask& waiting = Task(tAsyncRead, 2, node1, item);
    driver_->RunTasks(0);
    com_.captureAnswer = true;
    driver_->Execute();
    // Port 2 (COM2) captured and written; free it by hand so it is back to waiting.
    Reply(Framed({0x05, 0xC2, 0x00, 0x00, 0x00, 0x00}), 1);
    ASSERT_EQ(waiting.item.completions.size(), 1u);
    com_.calls.clear();

    driver_->PurgeActions();
    ASSERT_EQ(com_.calls.size(), 1u);
    EXPECT_EQ(com_.calls[0].kind, PortCall::Release);
    EXPECT_EQ(com_.calls[0].port, 0);
    EXPECT_TRUE(Ports.empty());
    EXPECT_EQ(Unsettled(active.item, {1}, true), "");
}

TEST_F(OnLine, OutcomeOfEachKindOfBadReply) {
    struct Case {
        const char* what;
        Bytes reply;
        HRESULT outcome;
        std::uint16_t quality;
        bool stray; // not the request's reply: it waits on and fails at its time-out
    };
    const Case cases[] = {
        {"checksum error",
         {0xFF, 0x05, 0xC2, 0x45, 0x23, 0x01, 0x00, 0x4B, 0xFF, 0xFF},
         kOutcomeChecksum,
         0x0318,
         false},
        {"one byte short", Framed({0x05, 0xC2, 0x45, 0x23, 0x01}), kOutcomeWrongReply, 0x0618,
         false},
        {"nothing left after extraction", {0xFF, 0xFF, 0xFF}, kFail, 0, false},
        {"another controller", Framed({0x06, 0xC2, 0x45, 0x23, 0x01, 0x00}), kOutcomeWrongReply,
         0x0618, true},
        {"another command", Framed({0x05, 0xC3, 0x45, 0x23, 0x01, 0x00}), kOutcomeWrongReply,
         0x0618, true},
        {"too short for an address and a command", Framed({}), kOutcomeWrongReply, 0x0618, true},
    };
    DriverSettings.CountTry = 1;
    std::uint32_t id = 0;
    for (const auto& c : cases) {
        PropertySet node = NetworkNode(0, 5);
        PropertySet item = Item(u"Вес Нетто");
        HostTask& task = Task(tAsyncRead, ++id, node, item);
        driver_->RunTasks(0);
        Ports[0].Devices[0].TryConnect = true; // each case starts from a reachable controller
        Ports[0].Devices[0].State = sdSuccess;
        driver_->Execute();
        Reply(c.reply);
        if (c.stray) {
            EXPECT_TRUE(task.item.completions.empty()) << c.what;
            EXPECT_EQ(server_.log.back(), "Получены не ожидаемые данные") << c.what;
            EXPECT_NE(com_.calls.back().kind, PortCall::Release) << c.what << ": port kept";
            clock_.Advance(3000);
            driver_->Execute();
        }
        ASSERT_EQ(task.item.completions.size(), 1u) << c.what;
        EXPECT_EQ(task.item.completions[0].result, c.outcome) << c.what;
        EXPECT_EQ(task.state.wQuality, c.quality) << c.what;
        EXPECT_EQ(task.state.vDataValue.vt, VT_EMPTY) << c.what;
        ASSERT_EQ(task.item.exchanges.size(), 1u) << c.what;
        EXPECT_EQ(task.item.exchanges[0].answered, c.stray ? 0u : 1u)
            << c.what << ": whether the request's reply came";
        EXPECT_EQ(Unsettled(task.item, {id}), "") << c.what;
    }
}

// What a line may bring while a request waits besides its reply: the request's own echo (a
// two-wire adapter), a late reply to an earlier request, another controller's reply. None of it
// is taken for the reply; the request keeps the port and its time-out.
TEST_F(OnLine, FramesThatDoNotAnswerTheRequestAreDroppedAndItWaitsOn) {
    const Bytes request = Framed({0x05, 0xC2});
    const Bytes answer = Framed({0x05, 0xC2, 0x45, 0x23, 0x01, 0x00});
    const Bytes late = Framed({0x05, 0xBF, 0x01});
    const Bytes other = Framed({0x06, 0xC2, 0x45, 0x23, 0x01, 0x00});
    const auto join = [](Bytes a, const Bytes& b) {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    };
    struct Case {
        const char* what;
        std::vector<Bytes> deliveries;
        HRESULT outcome;
        std::uint16_t quality;
        int unexpected; // "Получены не ожидаемые данные" lines
    };
    const Case cases[] = {
        {"echo, then the answer", {request, answer}, S_OK, 192, 1},
        {"echo and answer in one delivery", {join(request, answer)}, S_OK, 192, 1},
        {"late reply, then the answer", {late, answer}, S_OK, 192, 1},
        {"another controller and the answer at once", {join(other, answer)}, S_OK, 192, 1},
        {"the answer and a stray behind it", {join(answer, late)}, S_OK, 192, 1},
        {"only the echo", {request, request}, kOutcomeNotAnswer, 0x0218, 2},
        {"only a late reply", {late}, kOutcomeWrongReply, 0x0618, 1},
    };
    DriverSettings.CountTry = 1;
    std::uint32_t id = 0;
    for (const auto& c : cases) {
        const auto port = static_cast<TComPortNum>(id); // a line of its own per case
        PropertySet node = NetworkNode(port, 5);
        PropertySet item = Item(u"Вес Нетто");
        HostTask& task = Task(tAsyncRead, ++id, node, item);
        driver_->RunTasks(0);
        driver_->Execute();
        com_.calls.clear();
        const std::size_t lines = server_.log.size();
        for (const Bytes& delivery : c.deliveries) {
            clock_.Advance(100);
            Reply(delivery, port);
        }
        if (c.outcome != S_OK) {
            EXPECT_TRUE(task.item.completions.empty()) << c.what;
            clock_.Advance(3000 - 100 * static_cast<std::int64_t>(c.deliveries.size()));
            driver_->Execute();
        }
        ASSERT_EQ(task.item.completions.size(), 1u) << c.what;
        EXPECT_EQ(task.item.completions[0].result, c.outcome) << c.what;
        EXPECT_EQ(task.state.wQuality, c.quality) << c.what;
        if (c.outcome == S_OK) {
            EXPECT_EQ(task.state.vDataValue.dblVal, 12345.0) << c.what;
        }
        EXPECT_EQ(std::count(server_.log.begin() + static_cast<std::ptrdiff_t>(lines),
                             server_.log.end(), "Получены не ожидаемые данные"),
                  c.unexpected)
            << c.what;
        const auto kinds = Kinds();
        EXPECT_EQ(std::count(kinds.begin(), kinds.end(), PortCall::Release), 1) << c.what;
        EXPECT_EQ(task.item.exchanges.at(0).answered, c.outcome == S_OK ? 1u : 0u) << c.what;
        EXPECT_EQ(Unsettled(task.item, {id}), "") << c.what;
    }
}

// The dosing-control write is answered with a copy of itself, so a copy is its answer unless
// the line is known to echo what is written; then the first copy is the echo.
TEST_F(OnLine, CopyOfADosingWriteIsItsAnswerUnlessTheLineEchoes) {
    const Bytes dosing = Framed({0x05, 0xDF, 0x03});
    PropertySet node = NetworkNode(0, 5);
    PropertySet control = Item(u"Управление дозированием");
    PropertySet state = Item(u"Состояние", kPropStateBit, 0);

    HostTask& plain = Task(tAsyncWrite, 1, node, control);
    plain.SetValue(Variant::Int32(3));
    driver_->RunTasks(0);
    driver_->Execute();
    ASSERT_EQ(com_.Writes().back(), dosing);
    Reply(dosing);
    ASSERT_EQ(plain.item.completions.size(), 1u);
    EXPECT_EQ(plain.item.completions[0].result, S_OK) << "a line that does not echo";

    HostTask& read = Task(tAsyncRead, 2, node, state); // teaches the driver the line echoes
    driver_->RunTasks(0);
    driver_->Execute();
    Reply(Framed({0x05, 0xBF}));
    Reply(Framed({0x05, 0xBF, 0x01}));
    ASSERT_EQ(read.item.completions.at(0).result, S_OK);

    HostTask& echoed = Task(tAsyncWrite, 3, node, control);
    echoed.SetValue(Variant::Int32(3));
    driver_->RunTasks(0);
    driver_->Execute();
    Reply(dosing);
    EXPECT_TRUE(echoed.item.completions.empty()) << "the first copy is the line's echo";
    Reply(dosing);
    ASSERT_EQ(echoed.item.completions.size(), 1u);
    EXPECT_EQ(echoed.item.completions[0].result, S_OK);

    DriverSettings.CountTry = 1;
    HostTask& unanswered = Task(tAsyncWrite, 4, node, control);
    unanswered.SetValue(Variant::Int32(3));
    driver_->RunTasks(0);
    driver_->Execute();
    Reply(dosing);
    clock_.Advance(3000);
    driver_->Execute();
    ASSERT_EQ(unanswered.item.completions.size(), 1u);
    EXPECT_EQ(unanswered.item.completions[0].result, kOutcomeNotAnswer)
        << "its own echo does not acknowledge a write";
    EXPECT_EQ(Unsettled(plain.item, {1}) + Unsettled(read.item, {2}) + Unsettled(echoed.item, {3}) +
                  Unsettled(unanswered.item, {4}),
              "");
}

TEST_F(OnLine, ChecksumErrorIsRepeatedWhileRepeatsAreGranted) {
    PropertySet node = NetworkNode(0, 5);
    PropertySet item = Item(u"Вес Нетто");
    HostTask& task = Task(tAsyncRead, 1, node, item);
    driver_->RunTasks(0);
    driver_->Execute();
    Ports[0].Devices[0].State = sdFailed;
    Reply({0xFF, 0x05, 0xC2, 0x45, 0x23, 0x01, 0x00, 0x4B, 0xFF, 0xFF});
    EXPECT_TRUE(task.item.completions.empty());
    EXPECT_EQ(Ports[0].Commands.front()->State, csWaiting);
    EXPECT_EQ(Ports[0].Devices[0].State, sdSuccess);

    driver_->Execute();
    driver_->Execute(); // the second attempt waits for its reply
    EXPECT_EQ(Writes(), 2u);
    Reply({0xFF, 0x05, 0xC2, 0x45, 0x23, 0x01, 0x00, 0x4A, 0xFF, 0xFF});
    ASSERT_EQ(task.item.exchanges.size(), 1u);
    EXPECT_EQ(task.item.exchanges[0].answered, 1u);
    EXPECT_EQ(task.item.exchanges[0].retries, 1u);
    EXPECT_EQ(task.item.completions[0].result, S_OK);
}

TEST_F(OnLine, ReplyInTwoPiecesIsNotReassembled) {
    PropertySet node = NetworkNode(0, 5);
    PropertySet item = Item(u"Вес Нетто");
    HostTask& task = Task(tAsyncRead, 1, node, item);
    driver_->RunTasks(0);
    driver_->Execute();
    Reply({0xFF, 0x05, 0xC2, 0x45, 0x23});
    EXPECT_TRUE(task.item.completions.empty()) << "judged alone: a checksum error, repeated";
    EXPECT_EQ(Ports[0].Commands.front()->State, csWaiting);
    Reply({0x01, 0x00, 0x4A, 0xFF, 0xFF});
    EXPECT_EQ(server_.log.back(), "Получены не ожидаемые данные");
    driver_->Execute();
    Reply({0xFF, 0x05, 0xC2, 0x45, 0x23, 0x01, 0x00, 0x4A, 0xFF, 0xFF});
    ASSERT_EQ(task.item.completions.size(), 1u);
    EXPECT_EQ(task.item.exchanges[0].retries, 1u);
}

TEST_F(OnLine, TasksSharingARequestEachTakeTheirOwnPart) {
    PropertySet node = NetworkNode(0, 39);
    PropertySet bit0 = Item(u"Дискретные входы", kPropDigitalInput, 0);
    PropertySet bit7 = Item(u"Дискретные входы", kPropDigitalInput, 7);
    PropertySet bit9 = Item(u"Дискретные входы", kPropDigitalInput, 9);
    HostTask& a = Task(tAsyncRead, 1, node, bit0);
    HostTask& b = Task(tAsyncRead, 2, node, bit7);
    HostTask& c = Task(tAsyncRead, 3, node, bit9);
    driver_->RunTasks(0);
    driver_->Execute();
    ASSERT_EQ(Writes(), 1u);
    EXPECT_EQ(com_.Writes()[0], (Bytes{0xFF, 0x27, 0xC4, 0xFF, 0xFE, 0xFF, 0xFF}));
    Reply(Framed({0x27, 0xC4, 0x80}));
    EXPECT_EQ(a.state.vDataValue.lVal, 0);
    EXPECT_EQ(a.state.vDataValue.vt, VT_I4);
    EXPECT_EQ(b.state.vDataValue.lVal, 1);
    EXPECT_EQ(c.item.completions[0].result, kFail) << "bit 9 of a one-byte mask";
    EXPECT_EQ(c.state.wQuality, 0);
    // Batch order: the first task of the batch reports first.
    EXPECT_EQ(a.item.exchanges[0].first, 1);
    EXPECT_EQ(b.item.exchanges[0].first, 0);
    EXPECT_EQ(c.item.exchanges[0].first, 0);
    EXPECT_EQ(Unsettled(a.item, {1}) + Unsettled(b.item, {2}) + Unsettled(c.item, {3}), "");
}

TEST_F(OnLine, RequestThatOnlySawStrayFramesFailsEveryTaskAsNotMatchingAndIsLoggedOnce) {
    PropertySet node = NetworkNode(0, 5);
    PropertySet bit0 = Item(u"Состояние", kPropStateBit, 0);
    PropertySet bit1 = Item(u"Состояние", kPropStateBit, 1);
    HostTask& a = Task(tAsyncRead, 1, node, bit0);
    HostTask& b = Task(tAsyncRead, 2, node, bit1);
    driver_->RunTasks(0);
    double sent = 0;
    for (int attempt = 1; attempt <= 3; ++attempt) {
        driver_->Execute();
        sent = platform::LocalNow();
        clock_.Advance(50);
        Reply(Framed({0x06, 0xBF, 0x03})); // address 6 answers on the line, every time
        clock_.Advance(2950);
        driver_->Execute();
    }
    EXPECT_EQ(Writes(), 3u) << "each stray frame left the request waiting for its time-out";
    for (HostTask* task : {&a, &b}) {
        ASSERT_EQ(task->item.completions.size(), 1u);
        EXPECT_EQ(task->item.completions[0].result, kOutcomeWrongReply);
        EXPECT_EQ(task->state.wQuality, 0x0618);
        EXPECT_EQ(platform::FileTimeTicks(task->state.ftTimeStamp),
                  platform::FileTimeTicks(
                      DateTimeToOPCTime(sent + 3000 / platform::kMillisecondsPerDay)));
    }
    EXPECT_EQ(
        std::count(server_.log.begin(), server_.log.end(), "COM1 Адрес 5: устройство не доступно"),
        1);
}

TEST_F(OnLine, SerialAddressedControllerIsNamedBySerialInTheLog) {
    DriverSettings.CountTry = 1;
    PropertySet node = testing::SerialNode(0, 999999);
    PropertySet item = Item(u"Вес Брутто");
    HostTask& task = Task(tAsyncRead, 1, node, item);
    driver_->RunTasks(0);
    driver_->Execute();
    Reply(Framed({0x00, 0x0F, 0x42, 0x3F, 0xC3, 0x05, 0x02, 0x00, 0x81}));
    EXPECT_EQ(task.item.completions[0].result, S_OK);
    EXPECT_DOUBLE_EQ(task.state.vDataValue.dblVal, -20.5);

    HostTask& silent = Task(tAsyncRead, 2, node, item);
    driver_->RunTasks(0);
    driver_->Execute();
    clock_.Advance(3000);
    driver_->Execute();
    EXPECT_EQ(silent.item.completions[0].result, kOutcomeNotAnswer);
    EXPECT_EQ(server_.log.back(), "COM1 Серийный номер 999999: устройство не доступно");
}

TEST_F(OnLine, HostThatThrowsInACompletionDoesNotStopTheOthers) {
    PropertySet node = NetworkNode(0, 5);
    PropertySet bit0 = Item(u"Состояние", kPropStateBit, 0);
    PropertySet bit1 = Item(u"Состояние", kPropStateBit, 1);
    HostTask& a = Task(tAsyncRead, 1, node, bit0);
    HostTask& b = Task(tAsyncRead, 2, node, bit1);
    a.item.onComplete = [] { throw std::runtime_error("host failure"); };
    driver_->RunTasks(0);
    driver_->Execute();
    Reply(Framed({0x05, 0xBF, 0x02}));
    EXPECT_EQ(b.state.vDataValue.lVal, 1);
    EXPECT_EQ(b.item.completions.size(), 1u);
    EXPECT_EQ(a.item.exchanges.size(), 1u) << "the report still follows";
    EXPECT_TRUE(PortDriver->WaitingTasks().empty());
    EXPECT_EQ(Unsettled(a.item, {1}) + Unsettled(b.item, {2}), "");
}

// The controller reads out a decimal; its value is the double nearest that decimal, to the
// bit, whatever floating-point state the host left on its thread, and the host gets that
// state back.
TEST_F(OnLine, WeightsAreTheNearestDoublesOfTheirDecimalsInAnyHostFloatState) {
    const std::uint32_t raws[] = {0, 1, 7, 9, 10, 99, 6312, 12345, 123456, 500001, 654321, 999999};
    PropertySet node = NetworkNode(0, 5);
    PropertySet item = Item(u"Вес Нетто");
    for (const HostFloatCase& host : kHostFloatStates) {
        for (std::uint8_t decimals = 0; decimals <= 7; ++decimals) {
            for (const bool negative : {false, true}) {
                for (const std::uint32_t raw : raws) {
                    char text[32];
                    std::snprintf(text, sizeof text, "%s%ue-%u", negative ? "-" : "", raw,
                                  static_cast<unsigned>(decimals));
                    SCOPED_TRACE(std::string(text) + ", " + host.name);
                    Bytes body{0x05, 0xC2,
                               0,    0,
                               0,    static_cast<std::uint8_t>(decimals | (negative ? 0x80 : 0))};
                    IntToBCD(raw, body.data() + 2, 3);
                    HostTask& task = Task(tAsyncRead, raw, node, item);
                    bool kept = false;
                    {
                        AsHost state(host.control);
                        driver_->RunTasks(0);
                        driver_->Execute();
                        Reply(Framed(body));
                        kept = state.Kept();
                    }
                    EXPECT_TRUE(kept) << "the host's floating-point state was changed";
                    ASSERT_EQ(task.state.wQuality, 192);
                    ASSERT_EQ(task.state.vDataValue.vt, VT_R8);
                    EXPECT_EQ(Bits(task.state.vDataValue.dblVal), Bits(std::strtod(text, nullptr)))
                        << task.state.vDataValue.dblVal;
                }
            }
        }
    }
}

// The figures of a controller's link, read as a host reads them: through diagnostic items,
// which complete inside RunTasks without a frame.
class LinkFigures : public OnLine {
protected:
    std::vector<double> Read(PropertySet& node) {
        std::vector<double> values;
        const std::size_t writes = Writes();
        for (int figure = 0; figure < kLinkFigureCount; ++figure) {
            PropertySet item = Item(u"Диагностика связи", kPropLinkFigure, figure);
            HostTask& task = Task(tSyncRead, 900, node, item);
            driver_->RunTasks(0);
            EXPECT_EQ(task.result, S_OK) << figure;
            EXPECT_EQ(task.state.wQuality, 192) << figure;
            const VARIANT& v = task.state.vDataValue;
            values.push_back(v.vt == VT_BOOL   ? (v.boolVal ? 1 : 0)
                             : v.vt == VT_DATE ? v.date
                                               : v.dblVal);
        }
        EXPECT_EQ(Writes(), writes) << "a diagnostic read asks nothing of the controller";
        return values;
    }
};

TEST_F(LinkFigures, EachOutcomeMovesExactlyItsFigures) {
    using F = LinkFigure;
    struct Case {
        const char* what;
        std::function<void(PropertySet& node)> exchange;
        std::vector<std::pair<LinkFigure, double>> moved; // every other figure stays 0
    };
    const Bytes net = Framed({0x05, 0xC2, 0x45, 0x23, 0x01, 0x00});
    const auto read = [this](PropertySet& node) {
        PropertySet item = Item(u"Вес Нетто");
        Task(tAsyncRead, 1, node, item);
        driver_->RunTasks(0);
        driver_->Execute();
    };
    const auto dosing = [this](PropertySet& node, int value) {
        PropertySet item = Item(u"Управление дозированием");
        HostTask& task = Task(tAsyncWrite, 2, node, item);
        task.SetValue(Variant::Int32(value));
        driver_->RunTasks(0);
        driver_->Execute();
    };
    const auto timeOut = [this] {
        clock_.Advance(3000);
        driver_->Execute();
    };
    const Case cases[] = {
        {"good reply after 120 ms",
         [&](PropertySet& node) {
             read(node);
             clock_.Advance(120);
             Reply(net);
         },
         {{F::LinkUp, 1},
          {F::Replies, 1},
          {F::LastReplyMs, 120},
          {F::MinReplyMs, 120},
          {F::MaxReplyMs, 120}}},
        {"no answer", [&](PropertySet& node) { read(node), timeOut(); }, {{F::NoAnswer, 1}}},
        {"checksum error, repeated, then good",
         [&](PropertySet& node) {
             DriverSettings.CountTry = 2;
             read(node);
             Reply({0xFF, 0x05, 0xC2, 0x45, 0x23, 0x01, 0x00, 0x4B, 0xFF, 0xFF});
             driver_->Execute();
             Reply(net);
         },
         {{F::LinkUp, 1}, {F::Replies, 1}, {F::ChecksumErrors, 1}, {F::Repeats, 1}}},
        {"stray frame, then no answer",
         [&](PropertySet& node) {
             read(node);
             Reply(Framed({0x06, 0xC2, 0x45, 0x23, 0x01, 0x00}));
             timeOut();
         },
         {{F::Mismatches, 1}, {F::NoAnswer, 1}}},
        {"wrong length",
         [&](PropertySet& node) {
             read(node), Reply(Framed({0x05, 0xC2, 0x01}));
         },
         {{F::Mismatches, 1}}},
        {"refused port write",
         [&](PropertySet& node) {
             com_.writeAnswer = 1;
             read(node);
             com_.writeAnswer = 0;
             timeOut();
         },
         {{F::RefusedWrites, 1}, {F::NoAnswer, 1}}},
        {"write acknowledged",
         [&](PropertySet& node) {
             dosing(node, 3), Reply(Framed({0x05, 0xDF, 0x03}));
         },
         {{F::LinkUp, 1}, {F::Replies, 1}, {F::GoodWrites, 1}}},
        {"write refused before it goes out",
         [&](PropertySet& node) { dosing(node, 256); },
         {{F::FailedWrites, 1}}},
    };
    for (const Case& c : cases) {
        driver_->PurgeActions();
        DriverSettings = TDriverSettings{};
        DriverSettings.CountTry = 1;
        PropertySet node = NetworkNode(0, 5);
        EXPECT_EQ(Read(node), std::vector<double>(kLinkFigureCount, 0))
            << c.what << ": a controller never contacted";
        c.exchange(node);
        std::vector<double> expected(kLinkFigureCount, 0);
        for (const auto& [figure, value] : c.moved) {
            expected[static_cast<int>(figure)] = value;
        }
        std::vector<double> got = Read(node);
        const auto last = static_cast<int>(F::LastGoodReply);
        EXPECT_EQ(got[last] != 0, expected[static_cast<int>(F::Replies)] != 0) << c.what;
        got[last] = 0; // a date, checked for being set or not
        EXPECT_EQ(got, expected) << c.what;
    }
}

TEST_F(LinkFigures, ResetIsPerControllerAndPurgeActionsClearsThemAll) {
    PropertySet first = NetworkNode(0, 5);
    PropertySet second = NetworkNode(0, 6);
    PropertySet item = Item(u"Состояние", kPropStateBit, 0);
    for (PropertySet* node : {&first, &second}) {
        Task(tAsyncRead, 1, *node, item);
        driver_->RunTasks(0);
        driver_->Execute();
        const auto address = static_cast<std::uint8_t>(node == &first ? 5 : 6);
        Reply(Framed({address, 0xBF, 0x01}));
    }
    const auto replies = [this](PropertySet& node) {
        return Read(node)[static_cast<int>(LinkFigure::Replies)];
    };
    ASSERT_EQ(replies(first), 1);

    PropertySet reset =
        Item(u"Диагностика связи", kPropLinkFigure, static_cast<int>(LinkFigure::Reset));
    HostTask& clear = Task(tSyncWrite, 2, first, reset);
    clear.SetValue(Variant::Bool(true));
    driver_->RunTasks(0);
    EXPECT_EQ(clear.result, S_OK);
    EXPECT_EQ(Read(first), std::vector<double>(kLinkFigureCount, 0));
    EXPECT_EQ(replies(second), 1) << "another controller keeps its figures";

    PropertySet count =
        Item(u"Диагностика связи", kPropLinkFigure, static_cast<int>(LinkFigure::Replies));
    HostTask& readOnly = Task(tSyncWrite, 3, second, count);
    readOnly.SetValue(Variant::Int32(0));
    driver_->RunTasks(0);
    EXPECT_EQ(readOnly.result, kFail) << "a count cannot be written";

    driver_->PurgeAction(&clear.item);
    EXPECT_EQ(replies(second), 1) << "dropping an item's tasks keeps the figures";
    driver_->PurgeActions();
    EXPECT_EQ(replies(second), 0) << "the registry and its figures start again";
}

} // namespace
} // namespace vemox
