// Writes of outputs and weight-point levels carry the controller's whole state of that kind:
// they must only ever send what was read from the controller or acknowledged by it.
#include "ExchangeFixture.h"

#include <gtest/gtest.h>

#include <limits>

namespace vemox {
namespace {

using namespace testing;
using platform::Variant;

class CachedWrite : public OnLine {
protected:
    // Writes the head request and answers it with the given body.
    void Answer(const Bytes& body, TComPortNum port = 0) {
        driver_->Execute();
        Reply(Framed(body), port);
    }
    Bytes LastWrite() const { return com_.Writes().back(); }
};

TEST_F(CachedWrite, OutputWriteReadsTheOutputsFirstAndBuildsOnWhatItRead) {
    PropertySet node = NetworkNode(0, 5);
    PropertySet output3 = Item(u"Дискретные выходы", kPropDigitalOutput, 3);
    HostTask& write = Task(tAsyncWrite, 1, node, output3);
    write.SetValue(Variant::Bool(true));
    driver_->RunTasks(0);

    driver_->Execute();
    ASSERT_EQ(Writes(), 1u);
    EXPECT_EQ(LastWrite(), Framed({0x05, 0xC5})) << "the outputs are read before the write";
    Reply(Framed({0x05, 0xC5, 0x05})); // one mask byte: outputs 0 and 2 are on
    EXPECT_TRUE(write.item.completions.empty()) << "the driver's own read completes no task";
    EXPECT_TRUE(write.item.exchanges.empty()) << "and reports no exchange";

    driver_->Execute();
    ASSERT_EQ(Writes(), 2u);
    EXPECT_EQ(LastWrite(), Framed({0x05, 0xD0, 0x0D})) << "outputs 0 and 2 stay on, one byte";
    Reply(Framed({0x05, 0xD0}));
    ASSERT_EQ(write.item.completions.size(), 1u);
    EXPECT_EQ(write.item.completions[0].kind, Completion::Write);
    EXPECT_EQ(write.item.completions[0].result, S_OK);
    EXPECT_EQ(write.state.wQuality, 192);
    ASSERT_EQ(write.item.exchanges.size(), 1u);
    EXPECT_EQ(write.item.exchanges[0].retries, 0u);
    EXPECT_EQ(Ports[0].Devices[0].SaveData.DigitalOutput, 0x0D) << "the acknowledged mask";
    EXPECT_EQ(Unsettled(write.item, {1}), "");
}

TEST_F(CachedWrite, WritesToTwoOutputsInOneBatchBothTakeEffect) {
    PropertySet node = NetworkNode(0, 5);
    PropertySet outputs = Item(u"Дискретные выходы", kPropDigitalOutput, 0);
    PropertySet output1 = Item(u"Дискретные выходы", kPropDigitalOutput, 1);
    PropertySet output9 = Item(u"Дискретные выходы", kPropDigitalOutput, 9);
    HostTask& read = Task(tAsyncRead, 1, node, outputs);
    driver_->RunTasks(0);
    Answer({0x05, 0xC5, 0x00, 0x01}); // two mask bytes: output 8 on
    ASSERT_EQ(read.item.completions.size(), 1u);

    HostTask& a = Task(tAsyncWrite, 2, node, output1);
    a.SetValue(Variant::Int32(1));
    HostTask& b = Task(tAsyncWrite, 3, node, output9);
    b.SetValue(Variant::Bool(true));
    driver_->RunTasks(0);
    Answer({0x05, 0xD0});
    EXPECT_EQ(LastWrite(), Framed({0x05, 0xD0, 0x02, 0x01}));
    Answer({0x05, 0xD0});
    EXPECT_EQ(LastWrite(), Framed({0x05, 0xD0, 0x02, 0x03})) << "built on the first write";
    EXPECT_EQ(Writes(), 3u) << "no read: the outputs were known";

    HostTask& off = Task(tAsyncWrite, 4, node, output1);
    off.SetValue(Variant::Int32(0));
    driver_->RunTasks(0);
    Answer({0x05, 0xD0});
    EXPECT_EQ(LastWrite(), Framed({0x05, 0xD0, 0x00, 0x03}));
    EXPECT_EQ(Unsettled(a.item, {2}) + Unsettled(b.item, {3}) + Unsettled(off.item, {4}), "");
}

TEST_F(CachedWrite, FailedReadFailsTheWriteAndWritesNothing) {
    PropertySet node = NetworkNode(0, 6);
    PropertySet output0 = Item(u"Дискретные выходы", kPropDigitalOutput, 0);
    HostTask& write = Task(tAsyncWrite, 1, node, output0);
    write.SetValue(Variant::Bool(true));
    driver_->RunTasks(0);
    RunUntilDone(write, 3000);

    ASSERT_EQ(Writes(), 3u);
    for (const Bytes& frame : com_.Writes()) {
        EXPECT_EQ(frame, Framed({0x06, 0xC5})) << "only the read went out";
    }
    ASSERT_EQ(write.item.completions.size(), 1u);
    EXPECT_EQ(write.item.completions[0].kind, Completion::Write);
    EXPECT_EQ(write.item.completions[0].result, kOutcomeNotAnswer);
    EXPECT_EQ(write.state.wQuality, 0x0218);
    EXPECT_TRUE(write.item.exchanges.empty()) << "the write itself was never sent";
    EXPECT_TRUE(Ports[0].Commands.empty());
    EXPECT_EQ(server_.log.back(), "COM1 Адрес 6: устройство не доступно");
    EXPECT_EQ(Unsettled(write.item, {1}), "");
}

TEST_F(CachedWrite, WrongReplyToTheReadFailsTheWriteWithThatOutcome) {
    DriverSettings.CountTry = 1;
    PropertySet node = NetworkNode(0, 5);
    PropertySet point = Item(u"Весовые точки", kPropWeightPoint, 2);
    HostTask& write = Task(tAsyncWrite, 1, node, point);
    write.SetValue(Variant::Double(1.0));
    driver_->RunTasks(0);
    Answer({0x05, 0xB1, 0x03, 0, 0, 0, 0, 0, 0}); // the reply names point 3
    EXPECT_TRUE(write.item.completions.empty()) << "not the read's reply: it waits on";
    RunUntilDone(write, 3000);
    ASSERT_EQ(write.item.completions.size(), 1u);
    EXPECT_EQ(write.item.completions[0].result, kOutcomeWrongReply);
    EXPECT_EQ(write.state.wQuality, 0x0618);
    EXPECT_EQ(Writes(), 1u);
}

TEST_F(CachedWrite, LevelWriteReadsThePointAndTheDecimalPlacesFirst) {
    PropertySet node = NetworkNode(0, 5);
    PropertySet upper2 = Properties({{kPropOperation, Variant::Text(u"Весовые точки")},
                                     {kPropWeightPoint, Variant::Int32(2)},
                                     {kPropWeightPointLevel, Variant::Int32(1)}});
    HostTask& write = Task(tAsyncWrite, 1, node, upper2);
    write.SetValue(Variant::Double(12.5));
    driver_->RunTasks(0);

    Answer({0x05, 0xB1, 0x02, 0x00, 0x10, 0x00, 0x00, 0x20, 0x00}); // levels 1000 and 2000
    EXPECT_EQ(LastWrite(), Framed({0x05, 0xB1, 0x02}));
    Answer({0x05, 0xC2, 0x00, 0x00, 0x00, 0x02}); // two decimal places
    EXPECT_EQ(LastWrite(), Framed({0x05, 0xC2}));
    EXPECT_TRUE(write.item.completions.empty());
    Answer({0x05, 0xD1});
    EXPECT_EQ(LastWrite(), Framed({0x05, 0xD1, 0x02, 0x00, 0x10, 0x00, 0x50, 0x12, 0x00}))
        << "the lower level as read, the upper one scaled with the decimals read";
    ASSERT_EQ(write.item.completions.size(), 1u);
    EXPECT_EQ(write.item.completions[0].result, S_OK);
    const TWeightPoint& cached = Ports[0].Devices[0].SaveData.WeightPoint.at(0);
    EXPECT_EQ(cached.LowLevel, 1000u);
    EXPECT_EQ(cached.HighLevel, 1250u) << "the acknowledged level";
    EXPECT_EQ(Writes(), 3u);
}

TEST_F(CachedWrite, ReadingOneLevelKeepsBothForTheNextWrite) {
    PropertySet node = NetworkNode(0, 5);
    PropertySet net = Item(u"Вес Нетто");
    PropertySet lower3 = Properties({{kPropOperation, Variant::Text(u"Весовые точки")},
                                     {kPropWeightPoint, Variant::Int32(3)},
                                     {kPropWeightPointLevel, Variant::Int32(0)}});
    Task(tAsyncRead, 1, node, net);
    HostTask& read = Task(tAsyncRead, 2, node, lower3);
    driver_->RunTasks(0);
    Answer({0x05, 0xC2, 0x00, 0x00, 0x00, 0x02});
    Answer({0x05, 0xB1, 0x03, 0x00, 0x05, 0x00, 0x00, 0x09, 0x00});
    EXPECT_DOUBLE_EQ(read.state.vDataValue.dblVal, 5.0);

    HostTask& write = Task(tAsyncWrite, 3, node, lower3);
    write.SetValue(Variant::Double(6.5));
    driver_->RunTasks(0);
    Answer({0x05, 0xD1});
    EXPECT_EQ(LastWrite(), Framed({0x05, 0xD1, 0x03, 0x50, 0x06, 0x00, 0x00, 0x09, 0x00}))
        << "the upper level read with the lower one goes out unchanged";
    EXPECT_EQ(Writes(), 3u);
}

TEST_F(CachedWrite, UnacknowledgedWriteMakesTheNextWriteReadAgain) {
    DriverSettings.CountTry = 1;
    PropertySet node = NetworkNode(0, 5);
    PropertySet output0 = Item(u"Дискретные выходы", kPropDigitalOutput, 0);
    HostTask& first = Task(tAsyncWrite, 1, node, output0);
    first.SetValue(Variant::Bool(true));
    driver_->RunTasks(0);
    Answer({0x05, 0xC5, 0x00});
    RunUntilDone(first, 3000); // the write goes out and is never answered
    EXPECT_EQ(first.item.completions.at(0).result, kOutcomeNotAnswer);

    Ports[0].Devices[0].TryConnect = true;
    Ports[0].Devices[0].State = sdSuccess;
    HostTask& second = Task(tAsyncWrite, 2, node, output0);
    second.SetValue(Variant::Bool(false));
    driver_->RunTasks(0);
    driver_->Execute();
    EXPECT_EQ(LastWrite(), Framed({0x05, 0xC5}))
        << "whether the lost write took effect is unknown: read again";
}

TEST_F(CachedWrite, SerialWhoseBytesNeedStuffingIsStillRecognisedAsAWrite) {
    PropertySet node = SerialNode(0, 0x01FF00);
    PropertySet output0 = Item(u"Дискретные выходы", kPropDigitalOutput, 0);
    HostTask& write = Task(tAsyncWrite, 1, node, output0);
    write.SetValue(Variant::Bool(true));
    driver_->RunTasks(0);
    Answer({0x00, 0x01, 0xFF, 0x00, 0xC5, 0x00, 0x00});
    EXPECT_EQ(com_.Writes().at(0), Framed({0x00, 0x01, 0xFF, 0x00, 0xC5}));
    Answer({0x00, 0x01, 0xFF, 0x00, 0xD0});
    EXPECT_EQ(LastWrite(), Framed({0x00, 0x01, 0xFF, 0x00, 0xD0, 0x01, 0x00}));
    EXPECT_EQ(write.item.completions.at(0).result, S_OK);
}

TEST_F(CachedWrite, PurgedWriteIsNotSent) {
    PropertySet node = NetworkNode(0, 5);
    PropertySet outputs = Item(u"Дискретные выходы", kPropDigitalOutput, 0);
    HostTask& read = Task(tAsyncRead, 1, node, outputs);
    driver_->RunTasks(0);
    Answer({0x05, 0xC5, 0x00});
    ASSERT_EQ(read.item.completions.size(), 1u);

    HostTask& write = Task(tAsyncWrite, 2, node, outputs);
    write.SetValue(Variant::Bool(true));
    driver_->RunTasks(0);
    driver_->PurgeAction(&write.item);
    driver_->Execute();
    EXPECT_EQ(Writes(), 1u);
    EXPECT_TRUE(Ports[0].Commands.empty());
    EXPECT_EQ(Unsettled(write.item, {2}, true), "");
}

// A request is judged by the checksum it was built with: switching the setting while requests
// wait neither refuses their good replies nor misreads what an acknowledged write left behind.
TEST_F(CachedWrite, RepliesAreJudgedByTheChecksumTheirRequestWasBuiltWith) {
    const auto frame = [](Bytes body, bool crc) {
        return crc ? Framed(body) : WrapFrame(body.data(), static_cast<std::int32_t>(body.size()));
    };
    for (const bool crc : {true, false}) {
        driver_->PurgeActions();
        const auto sentThenSwitched = [&](const Bytes& reply) {
            DriverSettings.CalcCRC = crc;
            driver_->Execute();
            DriverSettings.CalcCRC = !crc;
            Reply(frame(reply, crc));
        };
        PropertySet node = NetworkNode(0, 5);
        PropertySet net = Item(u"Вес Нетто");
        PropertySet output3 = Item(u"Дискретные выходы", kPropDigitalOutput, 3);
        PropertySet lower2 = Properties({{kPropOperation, Variant::Text(u"Весовые точки")},
                                         {kPropWeightPoint, Variant::Int32(2)},
                                         {kPropWeightPointLevel, Variant::Int32(0)}});
        HostTask& read = Task(tAsyncRead, 1, node, net);
        driver_->RunTasks(0);
        sentThenSwitched({0x05, 0xC2, 0x45, 0x23, 0x01, 0x02});
        EXPECT_EQ(read.item.completions.at(0).result, S_OK) << crc;
        EXPECT_DOUBLE_EQ(read.state.vDataValue.dblVal, 123.45) << crc;

        HostTask& output = Task(tAsyncWrite, 2, node, output3);
        output.SetValue(Variant::Bool(true));
        driver_->RunTasks(0);
        sentThenSwitched({0x05, 0xC5, 0x01}); // the outputs, read first: output 0 is on
        sentThenSwitched({0x05, 0xD0});
        EXPECT_EQ(output.item.completions.at(0).result, S_OK) << crc;
        EXPECT_EQ(Ports[0].Devices[0].SaveData.DigitalOutput, 0x09) << crc;
        EXPECT_EQ(Ports[0].Devices[0].SaveData.SizeDigitalOutput, 1) << crc;

        HostTask& point = Task(tAsyncWrite, 3, node, lower2);
        point.SetValue(Variant::Double(7.5));
        driver_->RunTasks(0);
        sentThenSwitched({0x05, 0xB1, 0x02, 0x00, 0x10, 0x00, 0x00, 0x20, 0x00});
        sentThenSwitched({0x05, 0xD1});
        EXPECT_EQ(point.item.completions.at(0).result, S_OK) << crc;
        const TWeightPoint& cached = Ports[0].Devices[0].SaveData.WeightPoint.at(0);
        EXPECT_EQ(cached.LowLevel, 750u) << crc;
        EXPECT_EQ(cached.HighLevel, 2000u) << crc;
    }
}

// A value the controller cannot store as asked is refused before it is written: a level that
// is negative, not a number or beyond six digits once scaled, a dosing byte outside 0..255.
TEST_F(CachedWrite, OutOfRangeValuesAreRefusedAndNothingIsWritten) {
    PropertySet node = NetworkNode(0, 5);
    PropertySet net = Item(u"Вес Нетто");
    PropertySet lower2 = Item(u"Весовые точки", kPropWeightPoint, 2);
    PropertySet dosing = Item(u"Управление дозированием");
    Task(tAsyncRead, 1, node, net);
    Task(tAsyncRead, 2, node, lower2);
    driver_->RunTasks(0);
    Answer({0x05, 0xC2, 0x00, 0x00, 0x00, 0x02}); // two decimal places
    Answer({0x05, 0xB1, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00});

    struct Case {
        const char* what;
        PropertySet* item;
        Variant (*value)();
        Bytes sent; // the data written; empty when refused
    };
    const Case cases[] = {
        {"negative level", &lower2, [] { return Variant::Double(-5); }, {}},
        {"level of 10^9", &lower2, [] { return Variant::Double(1e9); }, {}},
        {"seven digits once scaled", &lower2, [] { return Variant::Double(10000); }, {}},
        {"level that is not a number",
         &lower2,
         [] { return Variant::Double(std::numeric_limits<double>::quiet_NaN()); },
         {}},
        {"the largest level",
         &lower2,
         [] { return Variant::Double(9999.99); },
         {0x02, 0x99, 0x99, 0x99, 0x00, 0x00, 0x00}},
        {"dosing of 256", &dosing, [] { return Variant::Int32(256); }, {}},
        {"dosing of -1", &dosing, [] { return Variant::Int32(-1); }, {}},
        {"dosing rounded into range", &dosing, [] { return Variant::Double(255.4); }, {0xFF}},
        {"dosing true", &dosing, [] { return Variant::Bool(true); }, {0xFF}},
    };
    std::uint32_t id = 10;
    for (const auto& c : cases) {
        const std::size_t before = Writes();
        HostTask& write = Task(tAsyncWrite, ++id, node, *c.item);
        write.SetValue(c.value());
        driver_->RunTasks(0);
        driver_->Execute();
        if (c.sent.empty()) {
            ASSERT_EQ(write.item.completions.size(), 1u) << c.what;
            EXPECT_EQ(write.item.completions[0].result, kFail) << c.what;
            EXPECT_EQ(write.state.wQuality, 0) << c.what;
            EXPECT_EQ(Writes(), before) << c.what << ": nothing written";
            continue;
        }
        ASSERT_EQ(Writes(), before + 1) << c.what;
        Bytes body{0x05, c.item == &dosing ? std::uint8_t{0xDF} : std::uint8_t{0xD1}};
        body.insert(body.end(), c.sent.begin(), c.sent.end());
        EXPECT_EQ(LastWrite(), Framed(body)) << c.what;
        Reply(Framed(c.item == &dosing ? body : Bytes{0x05, 0xD1}));
        EXPECT_EQ(write.item.completions.at(0).result, S_OK) << c.what;
    }

    // The decimal places are learnt only once the write is about to go out: refused then.
    PropertySet other = NetworkNode(1, 6);
    HostTask& late = Task(tAsyncWrite, 99, other, lower2);
    late.SetValue(Variant::Double(10000));
    driver_->RunTasks(0);
    Answer({0x06, 0xB1, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}, 1);
    Answer({0x06, 0xC2, 0x00, 0x00, 0x00, 0x02}, 1);
    driver_->Execute();
    ASSERT_EQ(late.item.completions.size(), 1u);
    EXPECT_EQ(late.item.completions[0].result, kFail);
    EXPECT_EQ(late.state.wQuality, 0);
    EXPECT_EQ(LastWrite(), Framed({0x06, 0xC2})) << "only the reads went out";
}

} // namespace
} // namespace vemox
