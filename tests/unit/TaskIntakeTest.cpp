#include "config/PropertySet.h"
#include "contract/Constants.h"
#include "driver/Globals.h"
#include "driver/Main.h"
#include "fakes/HostFakes.h"
#include "fakes/HostTasks.h"
#include "platform/Clock.h"
#include "platform/DateTime.h"
#include "platform/MessageBox.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace vemox {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Frames = std::vector<Bytes>;
using platform::Variant;
using testing::Completion;
using testing::HostTask;
using testing::Item;
using testing::NetworkNode;
using testing::Properties;
using testing::QueuedFrames;
using testing::SerialNode;

constexpr std::int64_t kNowTicks = 133500000000000000LL;

class FixedClock final : public platform::ClockSource {
public:
    double LocalNow() const override { return 45000.5; }
    FILETIME UtcNow() const override { return platform::MakeFileTime(kNowTicks); }
};

class TaskIntake : public ::testing::Test {
protected:
    void SetUp() override { platform::SetClockSource(&clock_); }
    void TearDown() override {
        driver().PurgeActions();
        platform::SetClockSource(nullptr);
        DriverSettings = TDriverSettings{};
    }
    static TComPortDriver& driver() { return *PortDriver; }

    HostTask& Add(TTask kind, PropertySet& node, PropertySet& item, std::uint32_t id = 0) {
        tasks_.push_back(std::make_unique<HostTask>());
        HostTask& task = *tasks_.back();
        EXPECT_EQ(driver().AddTask(task.Def(kind, id, node, item)), S_OK);
        return task;
    }
    HostTask& AddWrite(TTask kind, PropertySet& node, PropertySet& item, const Variant& value,
                       std::uint32_t id = 0) {
        tasks_.push_back(std::make_unique<HostTask>());
        HostTask& task = *tasks_.back();
        task.SetValue(value);
        EXPECT_EQ(driver().AddTask(task.Def(kind, id, node, item)), S_OK);
        return task;
    }
    static void Run() { EXPECT_EQ(driver().RunTasks(0), S_OK); }

    static TDevice& Device(TComPortNum port, std::size_t index) {
        for (TComPort& known : Ports) {
            if (known.Port == port) {
                return known.Devices.at(index);
            }
        }
        throw std::out_of_range("no such port");
    }

    // A task that no request served: answered now, with no reference kept.
    static void ExpectFailedAtOnce(const HostTask& task) {
        EXPECT_EQ(task.state.wQuality, kQualityBad);
        EXPECT_EQ(platform::FileTimeTicks(task.state.ftTimeStamp), kNowTicks);
        EXPECT_EQ(task.result, E_FAIL);
        EXPECT_EQ(task.item.refs(), 0);
    }

    FixedClock clock_;
    std::vector<std::unique_ptr<HostTask>> tasks_;
};

TEST_F(TaskIntake, ReadFramesMatchTheWire) {
    struct Case {
        const char* name;
        PropertySet node;
        PropertySet item;
        bool crc;
        Bytes frame;
    };
    Case cases[] = {
        {"net weight",
         NetworkNode(0, 5),
         Item(u"Вес Нетто"),
         true,
         {0xFF, 0x05, 0xC2, 0x86, 0xFF, 0xFF}},
        {"net weight without checksum",
         NetworkNode(0, 5),
         Item(u"Вес Нетто"),
         false,
         {0xFF, 0x05, 0xC2, 0xFF, 0xFF}},
        {"gross weight by serial",
         SerialNode(0, 999999),
         Item(u"Вес Брутто"),
         true,
         {0xFF, 0x00, 0x0F, 0x42, 0x3F, 0xC3, 0xD6, 0xFF, 0xFF}},
        {"gross weight by serial without checksum",
         SerialNode(0, 999999),
         Item(u"Вес Брутто"),
         false,
         {0xFF, 0x00, 0x0F, 0x42, 0x3F, 0xC3, 0xFF, 0xFF}},
        {"counter 3",
         NetworkNode(0, 5),
         Item(u"Счетчик", kPropCounter, 3),
         true,
         {0xFF, 0x05, 0xC8, 0x03, 0x0F, 0xFF, 0xFF}},
        {"inputs of 39: the checksum is stuffed",
         NetworkNode(0, 39),
         Item(u"Дискретные входы"),
         true,
         {0xFF, 0x27, 0xC4, 0xFF, 0xFE, 0xFF, 0xFF}},
        {"outputs",
         NetworkNode(0, 1),
         Item(u"Дискретные выходы"),
         false,
         {0xFF, 0x01, 0xC5, 0xFF, 0xFF}},
        {"weight point 4",
         NetworkNode(0, 1),
         Item(u"Весовые точки", kPropWeightPoint, 4),
         false,
         {0xFF, 0x01, 0xB1, 0x04, 0xFF, 0xFF}},
        {"state",
         NetworkNode(0, 1),
         Item(u"Состояние", kPropStateBit, 2),
         false,
         {0xFF, 0x01, 0xBF, 0xFF, 0xFF}},
        {"counter number missing",
         NetworkNode(0, 1),
         Item(u"Счетчик"),
         false,
         {0xFF, 0x01, 0xC8, 0x00, 0xFF, 0xFF}},
    };
    for (auto& c : cases) {
        DriverSettings.CalcCRC = c.crc;
        HostTask& task = Add(tAsyncRead, c.node, c.item, 7);
        Run();
        EXPECT_EQ(QueuedFrames(0), Frames{c.frame}) << c.name;
        EXPECT_TRUE(task.item.completions.empty()) << c.name;
        EXPECT_EQ(task.item.refs(), 1) << c.name;
        driver().PurgeActions();
        EXPECT_EQ(task.item.refs(), 0) << c.name;
    }
}

TEST_F(TaskIntake, WritesCarryTheirValueCompletedFromTheCache) {
    struct Case {
        const char* name;
        PropertySet item;
        Variant value;
        Bytes frame;
    };
    Case cases[] = {
        {"output 3 on",
         Item(u"Дискретные выходы", kPropDigitalOutput, 3),
         Variant::Bool(true),
         {0xFF, 0x05, 0xD0, 0x09, 0x00, 0x1F, 0xFF, 0xFF}},
        {"output 0 off",
         Item(u"Дискретные выходы", kPropDigitalOutput, 0),
         Variant::Int32(0),
         {0xFF, 0x05, 0xD0, 0x00, 0x00}},
        {"output 3 with 0",
         Item(u"Дискретные выходы", kPropDigitalOutput, 3),
         Variant::Int32(0),
         {0xFF, 0x05, 0xD0, 0x01, 0x00}},
        {"output 20 acts on bit 15",
         Item(u"Дискретные выходы", kPropDigitalOutput, 20),
         Variant::Int32(1),
         {0xFF, 0x05, 0xD0, 0x01, 0x80}},
        {"dosing 3.5",
         Item(u"Управление дозированием"),
         Variant::Double(3.5),
         {0xFF, 0x05, 0xDF, 0x04}},
        {"dosing 2.5",
         Item(u"Управление дозированием"),
         Variant::Double(2.5),
         {0xFF, 0x05, 0xDF, 0x02}},
    };
    PropertySet node = NetworkNode(0, 5);
    PropertySet read = Item(u"Вес Нетто");
    // A first batch makes the controller known; the test then plays the reply that cached
    // its outputs.
    auto knownController = [&] {
        driver().PurgeActions();
        Add(tSyncRead, node, read);
        Run();
        Device(0, 0).SaveData.DigitalOutput = 0x0001;
    };
    for (auto& c : cases) {
        knownController();
        DriverSettings.CalcCRC = c.frame.size() == 8;
        AddWrite(tAsyncWrite, node, c.item, c.value);
        Run();
        const Frames frames = QueuedFrames(0);
        ASSERT_EQ(frames.size(), 2u) << c.name;
        Bytes expected = c.frame;
        if (!DriverSettings.CalcCRC) {
            expected.insert(expected.end(), {0xFF, 0xFF});
        }
        EXPECT_EQ(frames[1], expected) << c.name;
        EXPECT_EQ(Device(0, 0).SaveData.DigitalOutput, 0x0001) << "writes leave the cache alone";
    }

    knownController();
    DriverSettings.CalcCRC = false;
    Device(0, 0).SaveData.SizeDigitalOutput = 1;
    PropertySet output = Item(u"Дискретные выходы", kPropDigitalOutput, 3);
    AddWrite(tSyncWrite, node, output, Variant::Bool(true));
    Run();
    EXPECT_EQ(QueuedFrames(0).back(), (Bytes{0xFF, 0x05, 0xD0, 0x09, 0xFF, 0xFF}));
}

TEST_F(TaskIntake, WeightPointLevelsKeepTheOtherCachedLevel) {
    DriverSettings.CalcCRC = false;
    PropertySet node = NetworkNode(3, 5);
    PropertySet read = Item(u"Вес Нетто");
    Add(tSyncRead, node, read);
    Run();
    TSaveData& cache = Device(3, 0).SaveData;
    cache.WeightParams = 0x12; // two decimal places in the low bits
    cache.WeightPoint.push_back({2, 1000, 777});

    struct Case {
        std::int32_t point;
        std::int32_t level;
        Variant value;
        Bytes data;
    };
    const Case cases[] = {
        {2, 1, Variant::Double(12.5), {0x02, 0x00, 0x10, 0x00, 0x50, 0x12, 0x00}},
        {2, 0, Variant::Double(0.57), {0x02, 0x57, 0x00, 0x00, 0x77, 0x07, 0x00}},
        {5, 1, Variant::Double(0.579), {0x05, 0x00, 0x00, 0x00, 0x57, 0x00, 0x00}},
        {5, 0, Variant::Int32(9999), {0x05, 0x00, 0x99, 0x99, 0x00, 0x00, 0x00}},
        {5, 0, Variant::Text(u"1.25"), {0x05, 0x25, 0x01, 0x00, 0x00, 0x00, 0x00}},
    };
    for (const auto& c : cases) {
        PropertySet item = Properties({{kPropOperation, Variant::Text(u"Весовые точки")},
                                       {kPropWeightPoint, Variant::Int32(c.point)},
                                       {kPropWeightPointLevel, Variant::Int32(c.level)}});
        AddWrite(tSyncWrite, node, item, c.value);
        Run();
        Bytes expected{0xFF, 0x05, 0xD1};
        expected.insert(expected.end(), c.data.begin(), c.data.end());
        expected.insert(expected.end(), {0xFF, 0xFF});
        EXPECT_EQ(QueuedFrames(3).back(), expected);
    }
    cache.WeightParams = 3;
    PropertySet item = Properties({{kPropOperation, Variant::Text(u"Весовые точки")},
                                   {kPropWeightPoint, Variant::Int32(1)},
                                   {kPropWeightPointLevel, Variant::Int32(1)}});
    AddWrite(tSyncWrite, node, item, Variant::Double(1.005));
    Run();
    EXPECT_EQ(QueuedFrames(3).back(),
              (Bytes{0xFF, 0x05, 0xD1, 0x01, 0x00, 0x00, 0x00, 0x05, 0x10, 0x00, 0xFF, 0xFF}));
}

TEST_F(TaskIntake, DosingControlReadIsAnsweredWithoutAnExchange) {
    PropertySet node = NetworkNode(0, 5);
    PropertySet item = Item(u"Управление дозированием");
    HostTask& sync = Add(tSyncRead, node, item);
    sync.SetValue(Variant::Text(u"old value"));
    HostTask& async = Add(tAsyncRead, node, item, 42);
    HostTask& init = Add(tInit, node, item);
    Run();
    EXPECT_TRUE(QueuedFrames(0).empty());
    for (HostTask* task : {&sync, &async, &init}) {
        EXPECT_EQ(task->state.wQuality, kQualityGood);
        EXPECT_EQ(task->state.vDataValue.vt, VT_I4);
        EXPECT_EQ(task->state.vDataValue.lVal, 0);
        EXPECT_EQ(platform::FileTimeTicks(task->state.ftTimeStamp), kNowTicks);
        EXPECT_EQ(task->item.refs(), 0);
    }
    EXPECT_EQ(sync.result, S_OK);
    EXPECT_EQ(init.result, S_OK);
    ASSERT_EQ(async.item.completions.size(), 1u);
    EXPECT_EQ(async.item.completions[0].kind, Completion::Read);
    EXPECT_EQ(async.item.completions[0].transactId, 42u);
    EXPECT_EQ(async.item.completions[0].result, S_OK);
    EXPECT_EQ(async.result, static_cast<HRESULT>(0x7EADBEEF));
}

TEST_F(TaskIntake, UnservedTasksCompleteAtOnceTheWayTheHostWaits) {
    PropertySet good = NetworkNode(0, 5);
    PropertySet portTooHigh = NetworkNode(100, 5);
    PropertySet portNegative = NetworkNode(-1, 5);
    PropertySet noPort = Properties({{kPropAddress, Variant::Int64(5)}});
    PropertySet net = Item(u"Вес Нетто");
    PropertySet unknown = Item(u"Вес");
    HostTask& high = Add(tSyncRead, portTooHigh, net);
    HostTask& negative = Add(tAsyncWrite, portNegative, net, 9);
    HostTask& missing = Add(tSyncWrite, noPort, net);
    HostTask& writeOfRead = AddWrite(tAsyncWrite, good, net, Variant::Int32(1), 11);
    HostTask& noOperation = Add(tAsyncRead, good, unknown, 12);
    HostTask& otherKind = Add(tNone, good, net);
    Run();
    EXPECT_TRUE(QueuedFrames(0).empty());
    EXPECT_TRUE(driver().AddedTasks().empty());
    EXPECT_TRUE(driver().WaitingTasks().empty());

    ExpectFailedAtOnce(high);
    ExpectFailedAtOnce(missing);
    ExpectFailedAtOnce(otherKind);
    for (HostTask* task : {&negative, &writeOfRead, &noOperation}) {
        EXPECT_EQ(task->state.wQuality, kQualityBad);
        EXPECT_EQ(platform::FileTimeTicks(task->state.ftTimeStamp), kNowTicks);
        EXPECT_EQ(task->result, static_cast<HRESULT>(0x7EADBEEF)) << "async: no result slot";
        EXPECT_EQ(task->item.refs(), 0);
        ASSERT_EQ(task->item.completions.size(), 1u);
        EXPECT_EQ(task->item.completions[0].result, E_FAIL);
    }
    EXPECT_EQ(negative.item.completions[0].kind, Completion::Write);
    EXPECT_EQ(negative.item.completions[0].transactId, 9u);
    EXPECT_EQ(writeOfRead.item.completions[0].kind, Completion::Write);
    EXPECT_EQ(noOperation.item.completions[0].kind, Completion::Read);
    EXPECT_EQ(noOperation.item.completions[0].transactId, 12u);
}

TEST_F(TaskIntake, CompletionThatThrowsStillFreesTheTask) {
    PropertySet node = NetworkNode(100, 5);
    PropertySet net = Item(u"Вес Нетто");
    HostTask& task = Add(tAsyncRead, node, net, 1);
    HostTask& next = Add(tAsyncRead, node, net, 2);
    task.item.onComplete = [] { throw std::runtime_error("host failure"); };
    Run();
    EXPECT_EQ(task.item.refs(), 0);
    EXPECT_EQ(next.item.refs(), 0);
    EXPECT_EQ(next.item.completions.size(), 1u);
    EXPECT_TRUE(driver().AddedTasks().empty());
}

TEST_F(TaskIntake, PortsAcrossTheWholeRangeAreAccepted) {
    PropertySet net = Item(u"Вес Нетто");
    PropertySet first = NetworkNode(0, 5);
    PropertySet last = NetworkNode(99, 5);
    PropertySet beyondNames = NetworkNode(45, 5);
    Add(tSyncRead, first, net);
    Add(tSyncRead, last, net);
    Add(tSyncRead, beyondNames, net);
    Run();
    EXPECT_EQ(QueuedFrames(0).size(), 1u);
    EXPECT_EQ(QueuedFrames(99).size(), 1u);
    EXPECT_EQ(QueuedFrames(45).size(), 1u);
    EXPECT_EQ(driver().WaitingTasks().size(), 3u);
}

TEST_F(TaskIntake, SharingFollowsKindPortControllerOperationAndNumber) {
    PropertySet node5 = NetworkNode(0, 5);
    PropertySet node5OtherPort = NetworkNode(1, 5);
    PropertySet node6 = NetworkNode(0, 6);
    PropertySet bySerial5 = SerialNode(0, 5);
    PropertySet input0 = Item(u"Дискретные входы", kPropDigitalInput, 0);
    PropertySet input7 = Item(u"Дискретные входы", kPropDigitalInput, 7);
    PropertySet counter1 = Item(u"Счетчик", kPropCounter, 1);
    PropertySet counter2 = Item(u"Счетчик", kPropCounter, 2);
    PropertySet net = Item(u"Вес Нетто");
    PropertySet lower = Item(u"Весовые точки", kPropWeightPoint, 1);
    PropertySet upper = Properties({{kPropOperation, Variant::Text(u"Весовые точки")},
                                    {kPropWeightPoint, Variant::Int32(1)},
                                    {kPropWeightPointLevel, Variant::Int32(1)}});

    struct Pair {
        const char* name;
        TTask kindA;
        PropertySet* nodeA;
        PropertySet* itemA;
        TTask kindB;
        PropertySet* nodeB;
        PropertySet* itemB;
        bool share;
    };
    const Pair pairs[] = {
        {"input bits 0 and 7", tAsyncRead, &node5, &input0, tAsyncRead, &node5, &input7, true},
        {"both levels of a point", tSyncRead, &node5, &lower, tSyncRead, &node5, &upper, true},
        {"counters 1 and 2", tAsyncRead, &node5, &counter1, tAsyncRead, &node5, &counter2, false},
        {"two ports", tAsyncRead, &node5, &net, tAsyncRead, &node5OtherPort, &net, false},
        {"two addresses", tAsyncRead, &node5, &net, tAsyncRead, &node6, &net, false},
        {"address against serial", tAsyncRead, &node5, &net, tAsyncRead, &bySerial5, &net, false},
        {"sync and async", tSyncRead, &node5, &net, tAsyncRead, &node5, &net, false},
        {"initial reads together", tInit, &node5, &net, tInit, &node5, &net, true},
        {"initial and sync read", tInit, &node5, &net, tSyncRead, &node5, &net, false},
    };
    for (const auto& p : pairs) {
        Add(p.kindA, *p.nodeA, *p.itemA);
        Add(p.kindB, *p.nodeB, *p.itemB);
        Run();
        const auto& waiting = driver().WaitingTasks();
        ASSERT_EQ(waiting.size(), 2u) << p.name;
        EXPECT_EQ(waiting[0]->Command == waiting[1]->Command, p.share) << p.name;
        std::size_t queued = 0;
        for (const TComPort& port : Ports) {
            queued += port.Commands.size();
        }
        EXPECT_EQ(queued, p.share ? 1u : 2u) << p.name;
        driver().PurgeActions();
    }
}

TEST_F(TaskIntake, WritesNeverShareAndEachSendsItsOwnValue) {
    DriverSettings.CalcCRC = false;
    PropertySet node = NetworkNode(0, 5);
    PropertySet dosing = Item(u"Управление дозированием");
    PropertySet output = Item(u"Дискретные выходы", kPropDigitalOutput, 2);
    HostTask& first = AddWrite(tAsyncWrite, node, dosing, Variant::Int32(1), 1);
    HostTask& second = AddWrite(tAsyncWrite, node, dosing, Variant::Int32(2), 2);
    AddWrite(tSyncWrite, node, output, Variant::Bool(true));
    AddWrite(tSyncWrite, node, output, Variant::Bool(false));
    Run();
    EXPECT_EQ(QueuedFrames(0), (Frames{{0xFF, 0x05, 0xDF, 0x01, 0xFF, 0xFF},
                                       {0xFF, 0x05, 0xDF, 0x02, 0xFF, 0xFF},
                                       {0xFF, 0x05, 0xD0, 0x04, 0x00, 0xFF, 0xFF},
                                       {0xFF, 0x05, 0xD0, 0x00, 0x00, 0xFF, 0xFF}}));
    std::set<const TCommand*> commands;
    for (const TQueuedTask* task : driver().WaitingTasks()) {
        commands.insert(task->Command);
    }
    EXPECT_EQ(commands.size(), 4u);
    EXPECT_TRUE(first.item.completions.empty() && second.item.completions.empty());
}

TEST_F(TaskIntake, InitialReadIsServedLikeASynchronousRead) {
    DriverSettings.CalcCRC = false;
    PropertySet node = NetworkNode(0, 5);
    PropertySet net = Item(u"Вес Нетто");
    HostTask& init = Add(tInit, node, net);
    Run();
    EXPECT_EQ(QueuedFrames(0), (Frames{{0xFF, 0x05, 0xC2, 0xFF, 0xFF}}));
    ASSERT_EQ(driver().WaitingTasks().size(), 1u);
    EXPECT_EQ(driver().WaitingTasks()[0]->Task, tInit);
    EXPECT_EQ(init.result, static_cast<HRESULT>(0x7EADBEEF)) << "answered by the reply";
    EXPECT_EQ(init.item.refs(), 1);
}

TEST_F(TaskIntake, UnconvertibleValuesFailOnlyTheirOwnTask) {
    DriverSettings.CalcCRC = false;
    PropertySet node = NetworkNode(0, 5);
    PropertySet textPort = Properties({{kPropComPort, Variant::Text(u"COM1")}});
    PropertySet textAddress =
        Properties({{kPropComPort, Variant::Int32(0)}, {kPropAddress, Variant::Text(u"пять")}});
    PropertySet counter1 = Item(u"Счетчик", kPropCounter, 1);
    PropertySet textCounter = Properties(
        {{kPropOperation, Variant::Text(u"Счетчик")}, {kPropCounter, Variant::Text(u"one")}});
    PropertySet dosing = Item(u"Управление дозированием");
    PropertySet level = Item(u"Весовые точки", kPropWeightPoint, 1);
    PropertySet output = Item(u"Дискретные выходы", kPropDigitalOutput, 1);
    PropertySet net = Item(u"Вес Нетто");

    HostTask& counter = Add(tSyncRead, node, counter1);
    HostTask& badCounter = Add(tSyncRead, node, textCounter);
    HostTask& badDosing = AddWrite(tSyncWrite, node, dosing, Variant::Text(u"abc"));
    HostTask& badLevel = AddWrite(tSyncWrite, node, level, Variant::Text(u"1,2,3"));
    HostTask& badOutput = AddWrite(tAsyncWrite, node, output, Variant::Text(u"on"), 3);
    HostTask& badPort = Add(tSyncRead, textPort, net);
    HostTask& badAddress = Add(tSyncRead, textAddress, net);
    HostTask& later = Add(tSyncRead, node, counter1);
    EXPECT_EQ(driver().RunTasks(0), S_OK);

    EXPECT_EQ(QueuedFrames(0), (Frames{{0xFF, 0x05, 0xC8, 0x01, 0xFF, 0xFF}}));
    ASSERT_EQ(driver().WaitingTasks().size(), 2u);
    EXPECT_EQ(counter.item.refs(), 1);
    EXPECT_EQ(later.item.refs(), 1);
    for (HostTask* task : {&badCounter, &badDosing, &badLevel, &badPort, &badAddress}) {
        ExpectFailedAtOnce(*task);
    }
    ASSERT_EQ(badOutput.item.completions.size(), 1u);
    EXPECT_EQ(badOutput.item.completions[0].result, E_FAIL);
    EXPECT_EQ(badOutput.state.wQuality, kQualityBad);
    EXPECT_EQ(badOutput.item.refs(), 0);
}

TEST_F(TaskIntake, RegistryKeysControllersByAddressAndSerial) {
    PropertySet a5s1 = NetworkNode(0, 5);
    PropertySet a5s2 = Properties({{kPropComPort, Variant::Int32(0)},
                                   {kPropAddress, Variant::Int64(5)},
                                   {kPropSerial, Variant::Int64(2)}});
    PropertySet bare = Properties({{kPropComPort, Variant::Int32(0)}});
    PropertySet net = Item(u"Вес Нетто");
    Add(tSyncRead, a5s1, net);
    Add(tAsyncRead, a5s2, net);
    Add(tSyncWrite, bare, net); // no request, yet its controller is known from now on
    Run();
    ASSERT_EQ(Ports.size(), 1u);
    ASSERT_EQ(Ports[0].Devices.size(), 3u);
    EXPECT_EQ(Ports[0].Devices[0].Serial, 1u);
    EXPECT_EQ(Ports[0].Devices[1].Serial, 2u);
    EXPECT_EQ(Ports[0].Devices[2].Address, 0u);
    EXPECT_EQ(Ports[0].Devices[2].Serial, 0u);
    EXPECT_EQ(Ports[0].Devices[1].SaveData.SizeDigitalOutput, 2u);
    EXPECT_TRUE(Ports[0].Devices[1].TryConnect);
    ASSERT_EQ(Ports[0].Commands.size(), 2u);
    EXPECT_EQ(Ports[0].Commands[0]->DeviceIndex, 0u);
    EXPECT_EQ(Ports[0].Commands[1]->DeviceIndex, 1u);
    EXPECT_EQ(Ports[0].Commands[1]->State, csWaiting);

    PropertySet samePortOne = NetworkNode(1, 5);
    Add(tSyncRead, samePortOne, net);
    Run();
    ASSERT_EQ(Ports.size(), 2u);
    EXPECT_EQ(Ports[1].Port, 1u);
    EXPECT_EQ(Ports[1].Devices.size(), 1u);
}

TEST_F(TaskIntake, LaterBatchesQueueBehindAndWaitInReverseOrder) {
    PropertySet node = NetworkNode(0, 5);
    PropertySet net = Item(u"Вес Нетто");
    PropertySet gross = Item(u"Вес Брутто");
    EXPECT_EQ(driver().RunTasks(0), S_OK);
    EXPECT_TRUE(Ports.empty());

    Add(tAsyncRead, node, net, 1);
    Add(tAsyncRead, node, gross, 2);
    Run();
    ASSERT_EQ(driver().WaitingTasks().size(), 2u);
    EXPECT_EQ(driver().WaitingTasks()[0]->TransactID, 2u);
    EXPECT_EQ(driver().WaitingTasks()[1]->TransactID, 1u);

    Add(tAsyncRead, node, net, 3);
    Run();
    EXPECT_EQ(Ports[0].Commands.size(), 3u) << "nothing joins an earlier batch's request";
    EXPECT_NE(driver().WaitingTasks()[2]->Command, driver().WaitingTasks()[1]->Command);
}

TEST_F(TaskIntake, MemoryRunningOutIsAnsweredNotHidden) {
    int boxes = 0;
    const auto previous = platform::SetMessageBoxHook(
        [&](std::u16string_view, std::u16string_view, std::uint32_t) { ++boxes; });
    PropertySet node = NetworkNode(0, 5);
    PropertySet net = Item(u"Вес Нетто");
    HostTask refused;
    platform::FailTaskMemAllocations(1);
    EXPECT_EQ(driver().AddTask(refused.Def(tAsyncRead, 1, node, net)), E_OUTOFMEMORY);
    EXPECT_TRUE(driver().AddedTasks().empty());
    EXPECT_EQ(refused.item.refs(), 0);
    EXPECT_EQ(boxes, 1);

    // No room for the request: the task is answered as failed and nothing is queued.
    HostTask& unserved = Add(tSyncRead, node, net);
    platform::FailTaskMemAllocations(1);
    Run();
    EXPECT_EQ(boxes, 2);
    EXPECT_TRUE(QueuedFrames(0).empty());
    ExpectFailedAtOnce(unserved);
    platform::SetMessageBoxHook(previous);
}

// Grouping must give exactly the pairs the sharing rule gives, whatever the batch looks like.
TEST_F(TaskIntake, RandomBatchesShareExactlyByTheRule) {
    std::mt19937 random(1234);
    std::vector<PropertySet> nodes;
    for (int port = 0; port < 3; ++port) {
        for (int unit = 1; unit <= 3; ++unit) {
            nodes.push_back(NetworkNode(port, unit));
            nodes.push_back(SerialNode(port, unit));
        }
    }
    std::vector<PropertySet> items;
    const char16_t* operations[] = {u"Вес Нетто", u"Вес Брутто", u"Состояние", u"Дискретные входы"};
    for (const char16_t* operation : operations) {
        items.push_back(Item(operation));
    }
    for (int n = 0; n < 3; ++n) {
        items.push_back(Item(u"Счетчик", kPropCounter, n));
        items.push_back(Item(u"Весовые точки", kPropWeightPoint, n));
    }
    const TTask kinds[] = {tSyncRead, tAsyncRead, tInit};
    struct Drawn {
        TTask kind;
        std::size_t node;
        std::size_t item;
    };
    std::vector<Drawn> drawn;
    for (int i = 0; i < 400; ++i) {
        drawn.push_back({kinds[random() % 3], random() % nodes.size(), random() % items.size()});
        Add(drawn.back().kind, nodes[drawn.back().node], items[drawn.back().item],
            static_cast<std::uint32_t>(i));
    }
    Run();
    const auto& waiting = driver().WaitingTasks();
    ASSERT_EQ(waiting.size(), drawn.size());
    std::set<const TCommand*> distinct;
    for (std::size_t a = 0; a < waiting.size(); ++a) {
        distinct.insert(waiting[a]->Command);
        const Drawn& x = drawn[waiting[a]->TransactID];
        for (std::size_t b = a + 1; b < waiting.size(); ++b) {
            const Drawn& y = drawn[waiting[b]->TransactID];
            const bool same = x.kind == y.kind && x.node == y.node && x.item == y.item;
            EXPECT_EQ(waiting[a]->Command == waiting[b]->Command, same);
        }
    }
    std::size_t queued = 0;
    for (const TComPort& port : Ports) {
        queued += port.Commands.size();
    }
    EXPECT_EQ(queued, distinct.size());
}

} // namespace
} // namespace vemox
