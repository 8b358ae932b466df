// A host that calls in the wrong order, hands over null pointers or values of unexpected
// types, or calls back into the driver from inside a completion or a release: every task
// still ends once (or is dropped by a purge), no item reference is kept, nothing crashes.
#include "ExchangeFixture.h"
#include "fakes/HostFloatState.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <vector>

namespace vemox {
namespace {

using namespace testing;
using platform::Variant;

const Bytes kNetReply{0xFF, 0x05, 0xC2, 0x45, 0x23, 0x01, 0x00, 0x4A, 0xFF, 0xFF};

class Misuse : public OnLine {
protected:
    // Cycles with the clock far ahead until nothing waits any more.
    void Settle() {
        for (int i = 0; i < 100 && !PortDriver->WaitingTasks().empty(); ++i) {
            clock_.Advance(61000);
            driver_->Execute();
        }
    }
    static int Ends(const HostTask& task) {
        return static_cast<int>(task.item.completions.size()) +
               (task.result != static_cast<HRESULT>(0x7EADBEEF) ? 1 : 0);
    }
};

TEST_F(Misuse, EveryOperationWithoutTheHostsInterfacesCallsNothingOfTheHost) {
    for (const bool requestWritten : {false, true}) {
        SCOPED_TRACE(requestWritten ? "after Deinitial, request written" : "before Initial");
        PropertySet node = NetworkNode(0, 5);
        PropertySet net = Item(u"Вес Нетто");
        PropertySet unknown = Item(u"no such operation");
        HostTask& served = Task(tAsyncRead, 1, node, net);
        if (requestWritten) {
            const std::size_t before = Writes();
            driver_->RunTasks(0);
            driver_->Execute();
            ASSERT_EQ(Writes(), before + 1);
        }
        driver_->Deinitial();
        const std::size_t portCalls = com_.calls.size();
        const std::size_t logLines = server_.log.size();

        HostTask& unserved = Task(tAsyncRead, 2, node, unknown);
        EXPECT_EQ(driver_->RunTasks(0), S_OK);
        driver_->Execute();
        clock_.Advance(5000);
        driver_->Execute();
        KibShortString text;
        driver_->GetPropStr(kPropComPort, Variant::Int32(4).get(), &text);
        EXPECT_EQ(std::u16string(ShortStringView(text)), u"COM5");
        std::int32_t timeout = 0;
        EXPECT_TRUE(driver_->GetWatchdogTimeout(nullptr, nullptr, &timeout));
        EXPECT_EQ(driver_->ResetDeviceState(TTaskDef{}), S_OK);
        driver_->SetDebugMode(true);
        EXPECT_FALSE(driver_->SetSlaveMode(true));
        EXPECT_FALSE(driver_->GetComPort(TItemProperties{}, nullptr));
        EXPECT_FALSE(driver_->GetAggregates(nullptr));
        EXPECT_FALSE(driver_->RunHDATasks(0));
        EXPECT_FALSE(driver_->AddHDATask(TTaskHDADef{}));
        receive_->OnReleasePort(0);
        EXPECT_FALSE(receive_->CompleteReceive(0, nullptr, 0));
        driver_->PurgeAction(nullptr);
        Reply(kNetReply);
        receive_->OnReceiveData(0, nullptr, 0);
        driver_->Deinitial();

        EXPECT_EQ(com_.calls.size(), portCalls) << "no port call without the port service";
        EXPECT_EQ(server_.log.size(), logLines) << "no log line without the server";
        EXPECT_EQ(Unsettled(unserved.item, {2}), "") << "an unserved task still ends at once";
        if (requestWritten) {
            // The reply to the written request is judged all the same.
            EXPECT_EQ(Unsettled(served.item, {1}), "");
            EXPECT_EQ(served.state.wQuality, kQualityGood);
        } else {
            EXPECT_TRUE(served.item.completions.empty()) << "nothing is written without a host";
        }

        // Connected again, whatever still waits is worked off.
        KibShortString name, descript, help;
        driver_->Initial(&server_, &com_, &name, &descript, &help, &receive_);
        driver_->Execute();
        if (!requestWritten) {
            Reply(kNetReply);
        }
        EXPECT_EQ(Unsettled(served.item, {1}), "");
        EXPECT_TRUE(PortDriver->WaitingTasks().empty());
        driver_->PurgeActions();
    }
}

TEST_F(Misuse, ExecuteWithAnEmptyRegistryCallsNothing) {
    driver_->PurgeActions();
    for (int i = 0; i < 3; ++i) {
        clock_.Advance(70000);
        driver_->Execute();
    }
    EXPECT_TRUE(com_.calls.empty());
    EXPECT_TRUE(server_.log.empty());
}

TEST_F(Misuse, NullPointersInATaskEndItOnceWithoutTouchingThem) {
    struct Case {
        const char* name;
        TTask kind;
        const char16_t* operation;
        bool nullState, nullResult, nullNode, nullItem;
    };
    const Case cases[] = {
        {"read, no item state", tAsyncRead, u"Вес Нетто", true, false, false, false},
        {"sync read, no item state", tSyncRead, u"Вес Нетто", true, false, false, false},
        {"sync read, no result slot", tSyncRead, u"Вес Нетто", false, true, false, false},
        {"read, no node properties", tAsyncRead, u"Вес Нетто", false, false, true, false},
        {"read, no item properties", tAsyncRead, u"Вес Нетто", false, false, false, true},
        {"dosing read, no item state", tAsyncRead, u"Управление дозированием", true, false, false,
         false},
        {"write, no item state", tAsyncWrite, u"Управление дозированием", true, false, false,
         false},
        {"outputs write, no item state", tAsyncWrite, u"Дискретные выходы", true, false, false,
         false},
        {"sync write, nothing at all", tSyncWrite, u"Дискретные выходы", true, true, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PropertySet node = NetworkNode(0, 5);
        PropertySet item = Item(c.operation, kPropDigitalOutput, 2);
        auto task = std::make_unique<HostTask>();
        task->SetValue(Variant::Int32(1));
        TTaskDef def = task->Def(c.kind, 9, node, item);
        def.ptrItemState = c.nullState ? nullptr : def.ptrItemState;
        def.ptrResult = c.nullResult ? nullptr : def.ptrResult;
        def.ptrNodeProperties = c.nullNode ? nullptr : def.ptrNodeProperties;
        def.ptrItemProperties = c.nullItem ? nullptr : def.ptrItemProperties;
        EXPECT_EQ(driver_->AddTask(def), S_OK);
        EXPECT_EQ(driver_->RunTasks(0), S_OK);
        driver_->Execute();
        Reply(kNetReply);
        Settle();
        const bool async = c.kind == tAsyncRead || c.kind == tAsyncWrite;
        if (async) {
            EXPECT_EQ(task->item.completions.size(), 1u);
        } else if (!c.nullResult) {
            EXPECT_NE(task->result, static_cast<HRESULT>(0x7EADBEEF));
        }
        EXPECT_TRUE(PortDriver->WaitingTasks().empty());
        EXPECT_EQ(task->item.refs(), 0);
        driver_->PurgeActions();
    }
}

TEST_F(Misuse, TasksWithoutAnItemObjectAreWorkedOffWithoutCallingOne) {
    PropertySet node = NetworkNode(0, 5);
    PropertySet net = Item(u"Вес Нетто");
    PropertySet unknown = Item(u"no such operation");
    HostTask task;
    for (PropertySet* item : {&net, &unknown}) {
        for (TTask kind : {tAsyncRead, tAsyncWrite, tSyncRead}) {
            TTaskDef def = task.Def(kind, 1, node, *item);
            def.Item = nullptr;
            EXPECT_EQ(driver_->AddTask(def), S_OK);
        }
    }
    EXPECT_EQ(driver_->RunTasks(0), S_OK);
    driver_->Execute();
    Reply(kNetReply);
    Settle();
    EXPECT_TRUE(PortDriver->WaitingTasks().empty());
    EXPECT_TRUE(Ports[0].Commands.empty());
    EXPECT_EQ(task.item.refs(), 0);
    EXPECT_TRUE(task.item.completions.empty());
}

TEST_F(Misuse, PropertyValuesOfUnexpectedTypesEndTheTaskOnce) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const std::vector<std::pair<std::string, Variant>> values = {
        {"text", Variant::Text(u"abc")},
        {"numeric text", Variant::Text(u"7")},
        {"NaN", Variant::Double(nan)},
        {"infinity", Variant::Double(std::numeric_limits<double>::infinity())},
        {"huge", Variant::Double(1e300)},
        {"huge integer", Variant::Int64(std::int64_t{1} << 40)},
        {"negative", Variant::Int32(-1)},
        {"lowest", Variant::Int64(std::numeric_limits<std::int64_t>::min())},
        {"empty", Variant::Empty()},
        {"null", Variant::Null()},
    };
    // Which property gets the odd value, on which kind of task.
    struct Slot {
        const char* name;
        std::int32_t id; // a node property, an item parameter, or 0 for the written value
        bool node;
        TTask kind;
        const char16_t* operation;
    };
    const Slot slots[] = {
        {"port", kPropComPort, true, tAsyncRead, u"Вес Нетто"},
        {"address", kPropAddress, true, tAsyncRead, u"Вес Нетто"},
        {"serial", kPropSerial, true, tAsyncRead, u"Вес Нетто"},
        {"addressing", kPropUseAddress, true, tAsyncRead, u"Вес Нетто"},
        {"input bit", kPropDigitalInput, false, tAsyncRead, u"Дискретные входы"},
        {"counter", kPropCounter, false, tSyncRead, u"Счетчик"},
        {"operation", kPropOperation, false, tAsyncRead, nullptr},
        {"written dosing value", 0, false, tAsyncWrite, u"Управление дозированием"},
        {"written output", 0, false, tAsyncWrite, u"Дискретные выходы"},
        {"written level", 0, false, tSyncWrite, u"Весовые точки"},
    };
    // Odd numbers must not trap in any floating-point state the host leaves.
    for (const HostFloatCase& host : kHostFloatStates) {
        for (const Slot& slot : slots) {
            for (const auto& [valueName, value] : values) {
                SCOPED_TRACE(std::string(slot.name) + " = " + valueName + ", " + host.name);
                PropertySet node = Properties({{kPropComPort, Variant::Int32(0)},
                                               {kPropUseAddress, Variant::Bool(true)},
                                               {kPropAddress, Variant::Int32(5)},
                                               {kPropSerial, Variant::Int32(1)}});
                PropertySet item =
                    slot.operation ? Item(slot.operation) : Properties({{kPropOperation, value}});
                if (slot.id != 0 && slot.node) {
                    node = Properties({{slot.id, value},
                                       {kPropComPort, Variant::Int32(0)},
                                       {kPropUseAddress, Variant::Bool(true)},
                                       {kPropAddress, Variant::Int32(5)},
                                       {kPropSerial, Variant::Int32(1)}});
                } else if (slot.id != 0 && slot.operation) {
                    item.Append(slot.id, VT_UI1, u"", value);
                }
                auto task = std::make_unique<HostTask>();
                task->SetValue(slot.id == 0 ? value : Variant::Int32(1));
                if (slot.id == 0) {
                    item.Append(kPropWeightPoint, VT_UI1, u"", Variant::Int32(1));
                    item.Append(kPropDigitalOutput, VT_UI1, u"", Variant::Int32(1));
                }
                HRESULT ran = E_FAIL;
                bool kept = false;
                {
                    AsHost state(host.control);
                    driver_->AddTask(task->Def(slot.kind, 3, node, item));
                    ran = driver_->RunTasks(0);
                    driver_->Execute();
                    Reply(kNetReply);
                    Settle();
                    kept = state.Kept();
                }
                EXPECT_EQ(ran, S_OK);
                EXPECT_TRUE(kept);
                EXPECT_EQ(Ends(*task), 1);
                EXPECT_TRUE(PortDriver->WaitingTasks().empty());
                driver_->PurgeActions();
                EXPECT_EQ(task->item.refs(), 0);
            }
        }
    }
}

TEST_F(Misuse, PurgeDropsEveryTaskOfTheItemEvenWhenItsNodeNoLongerConverts) {
    PropertySet node = NetworkNode(0, 5);
    PropertySet net = Item(u"Вес Нетто");
    PropertySet gross = Item(u"Вес Брутто");
    auto task = std::make_unique<HostTask>();
    driver_->AddTask(task->Def(tAsyncRead, 1, node, net));
    driver_->AddTask(task->Def(tAsyncRead, 2, node, gross));
    driver_->RunTasks(0);
    ASSERT_EQ(PortDriver->WaitingTasks().size(), 2u);
    // The host edits the node while its requests wait: the addressing becomes text.
    platform::VariantCopyFrom(node[1].vValue, Variant::Text(u"abc").get());
    driver_->PurgeAction(&task->item);
    EXPECT_TRUE(PortDriver->WaitingTasks().empty());
    EXPECT_EQ(task->item.refs(), 0);
    EXPECT_TRUE(task->item.completions.empty());
}

// Two reads of one controller that share a request: items A and B.
class SharedRead : public Misuse {
protected:
    SharedRead()
        : node_(NetworkNode(0, 5)), bit0_(Item(u"Дискретные входы", kPropDigitalInput, 0)),
          bit7_(Item(u"Дискретные входы", kPropDigitalInput, 7)) {
        a_ = &Task(tAsyncRead, 1, node_, bit0_);
        b_ = &Task(tAsyncRead, 2, node_, bit7_);
        driver_->RunTasks(0);
        driver_->Execute();
    }
    void Answer() { Reply(Framed({0x05, 0xC4, 0x81, 0x00})); }

    PropertySet node_, bit0_, bit7_;
    HostTask* a_ = nullptr;
    HostTask* b_ = nullptr;
};

TEST_F(SharedRead, PurgeOfTheOtherItemFromACompletionDropsItsTask) {
    a_->item.onComplete = [this] { driver_->PurgeAction(&b_->item); };
    b_->item.onComplete = [this] { driver_->PurgeAction(&a_->item); };
    Answer();
    EXPECT_EQ(a_->item.completions.size() + b_->item.completions.size(), 1u)
        << "the first completion purges the other task before it is completed";
    EXPECT_EQ(a_->item.refs(), 0);
    EXPECT_EQ(b_->item.refs(), 0);
    EXPECT_TRUE(PortDriver->WaitingTasks().empty());
    EXPECT_TRUE(Ports[0].Commands.empty());
}

TEST_F(SharedRead, PurgeOfItsOwnItemFromACompletionCompletesItOnce) {
    a_->item.onComplete = [this] { driver_->PurgeAction(&a_->item); };
    b_->item.onComplete = [this] { driver_->PurgeAction(&b_->item); };
    Answer();
    EXPECT_EQ(Unsettled(a_->item, {1}), "");
    EXPECT_EQ(Unsettled(b_->item, {2}), "");
    EXPECT_EQ(a_->state.vDataValue.lVal, 1);
    EXPECT_EQ(b_->state.vDataValue.lVal, 1);
}

TEST_F(SharedRead, PurgeOfEverythingFromACompletionDropsTheRestAndTheRegistry) {
    auto purgeAll = [this] { driver_->PurgeActions(); };
    a_->item.onComplete = purgeAll;
    b_->item.onComplete = purgeAll;
    Answer();
    EXPECT_EQ(a_->item.completions.size() + b_->item.completions.size(), 1u);
    EXPECT_EQ(a_->item.refs(), 0);
    EXPECT_EQ(b_->item.refs(), 0);
    EXPECT_TRUE(Ports.empty());
    Answer();
    EXPECT_EQ(server_.log.back(), "Получены не ожидаемые данные");
}

TEST_F(SharedRead, NewTasksAddedAndRunFromACompletionAreServedLater) {
    // Each completion adds a task for a new port, so the port records move in memory while
    // the reply is being handled.
    PropertySet net = Item(u"Вес Нетто");
    std::vector<PropertySet> nodes;
    nodes.reserve(8);
    std::vector<HostTask*> added;
    std::function<void()> addMore = [&] {
        if (added.size() >= 6) {
            return;
        }
        nodes.push_back(NetworkNode(static_cast<std::int32_t>(1 + added.size()), 5));
        added.push_back(
            &Task(tAsyncRead, 100 + static_cast<std::uint32_t>(added.size()), nodes.back(), net));
        added.back()->item.onComplete = addMore; // its completion adds the next
        EXPECT_EQ(driver_->RunTasks(0), S_OK);
    };
    a_->item.onComplete = addMore;
    b_->item.onComplete = addMore;
    Answer();
    EXPECT_EQ(Unsettled(a_->item, {1}), "");
    EXPECT_EQ(Unsettled(b_->item, {2}), "");
    ASSERT_EQ(added.size(), 2u);
    Settle(); // completions on the time-out path add more

    ASSERT_EQ(added.size(), 6u);
    for (std::size_t i = 0; i < added.size(); ++i) {
        EXPECT_EQ(Unsettled(added[i]->item, {100 + static_cast<std::uint32_t>(i)}), "");
    }
}

TEST_F(Misuse, CallsBackFromInsideThePortServiceDuringACycle) {
    PropertySet node = NetworkNode(0, 5);
    PropertySet net = Item(u"Вес Нетто");
    struct Case {
        const char* name;
        bool fromCapture;
        bool purge; // else: the reply is delivered at once
        int completions;
    };
    const Case cases[] = {
        {"reply delivered inside WriteData", false, false, 1},
        {"everything purged inside WriteData", false, true, 0},
        {"everything purged inside CapturePort", true, true, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        HostTask& task = Task(tAsyncRead, 1, node, net);
        driver_->RunTasks(0);
        bool once = true;
        std::function<void()> hook = [&] {
            if (!once) {
                return;
            }
            once = false;
            if (c.purge) {
                driver_->PurgeActions();
            } else {
                Reply(kNetReply);
            }
        };
        (c.fromCapture ? com_.onCapture : com_.onWrite) = hook;
        driver_->Execute();
        com_.onCapture = nullptr;
        com_.onWrite = nullptr;
        Settle();
        EXPECT_EQ(static_cast<int>(task.item.completions.size()), c.completions);
        if (c.completions == 1) {
            EXPECT_EQ(task.item.completions[0].result, S_OK);
        }
        EXPECT_EQ(task.item.refs(), 0);
        EXPECT_TRUE(PortDriver->WaitingTasks().empty());
        driver_->PurgeActions();
    }
}

TEST_F(Misuse, AnUnservedTasksCompletionMayRunTheNextBatch) {
    PropertySet node = NetworkNode(0, 5);
    PropertySet unknown = Item(u"no such operation");
    PropertySet net = Item(u"Вес Нетто");
    HostTask& first = Task(tAsyncRead, 1, node, unknown);
    HostTask* second = nullptr;
    first.item.onComplete = [&] {
        second = &Task(tAsyncRead, 2, node, net);
        driver_->RunTasks(0);
    };
    driver_->RunTasks(0);
    EXPECT_EQ(Unsettled(first.item, {1}), "");
    ASSERT_NE(second, nullptr);
    EXPECT_TRUE(PortDriver->AddedTasks().empty());
    ASSERT_EQ(PortDriver->WaitingTasks().size(), 1u);
    driver_->Execute();
    Reply(kNetReply);
    EXPECT_EQ(Unsettled(second->item, {2}), "");
}

TEST_F(Misuse, AnItemWhoseReleaseCallsBackFindsTheListsWhole) {
    PropertySet node = NetworkNode(0, 5);
    PropertySet net = Item(u"Вес Нетто");
    PropertySet gross = Item(u"Вес Брутто");
    HostTask& a = Task(tAsyncRead, 1, node, net);
    HostTask& b = Task(tAsyncRead, 2, node, gross);
    driver_->RunTasks(0);
    HostTask& c = Task(tAsyncRead, 3, node, gross); // added, not yet run
    HostTask& d = Task(tAsyncRead, 4, node, net);
    // Whatever is released first purges everything else, as a host tearing down might.
    int calls = 0;
    for (HostTask* t : {&a, &b, &c, &d}) {
        t->item.onRelease = [&] {
            if (++calls < 10) {
                driver_->PurgeAction(&b.item);
                driver_->PurgeActions();
            }
        };
    }
    driver_->PurgeActions();
    EXPECT_EQ(a.item.refs(), 0);
    EXPECT_EQ(b.item.refs(), 0);
    EXPECT_EQ(c.item.refs(), 0);
    EXPECT_EQ(d.item.refs(), 0);
    EXPECT_TRUE(PortDriver->WaitingTasks().empty());
    EXPECT_TRUE(PortDriver->AddedTasks().empty());
    EXPECT_TRUE(Ports.empty());
}

} // namespace
} // namespace vemox
