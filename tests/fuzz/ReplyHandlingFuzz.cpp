// Reply handling: a batch of tasks of one kind of request, then any mix of poll cycles,
// received bytes (split across calls as the input says), calls without data and purges, with
// a host that may call back into the driver from its completions. Whatever arrives, every
// task is completed once (or dropped by a purge), no item reference is kept, and nothing is
// left queued once the driver has given up on the controller.
#include "FuzzInput.h"
#include "config/PropertySet.h"
#include "contract/Constants.h"
#include "driver/Globals.h"
#include "driver/Main.h"
#include "fakes/FakeClock.h"
#include "fakes/HostFakes.h"
#include "fakes/HostTasks.h"

#include <memory>
#include <vector>

using namespace vemox;
using namespace vemox::testing;
using platform::Variant;
using vemox::fuzz::FuzzInput;
using vemox::fuzz::Require;

namespace {

struct Kind {
    const char16_t* operation;
    bool write;
};

constexpr Kind kKinds[] = {{u"Счетчик", false},           {u"Дискретные входы", false},
                           {u"Дискретные выходы", false}, {u"Весовые точки", false},
                           {u"Вес Нетто", false},         {u"Вес Брутто", false},
                           {u"Состояние", false},         {u"Дискретные выходы", true},
                           {u"Весовые точки", true},      {u"Управление дозированием", true}};

// How the host misbehaves inside a completion.
enum class Reentry { None, AddAndRun, PurgeOwn, PurgeAll };

struct Run {
    FakeServer server;
    FakeComPort com;
    IKibDriver3* driver = nullptr;
    IKibReceiveData* receive = nullptr;
    PropertySet node;
    std::vector<std::unique_ptr<PropertySet>> itemSets; // stable while the driver holds them
    std::vector<std::unique_ptr<HostTask>> tasks;
    std::vector<bool> purged;
    Reentry reentry = Reentry::None;
    int reentries = 0;

    // Counts a task that completes in any way: through its item or its result slot.
    static int Completions(const HostTask& task) {
        return static_cast<int>(task.item.completions.size()) +
               (task.result != static_cast<HRESULT>(0x7EADBEEF) ? 1 : 0);
    }

    void AddTask(const Kind& kind, std::uint8_t parameter, std::uint8_t shape) {
        PropertySet set = Properties({{kPropOperation, Variant::Text(kind.operation)}});
        set.Append(kPropCounter, VT_UI1, u"", Variant::Int32(parameter % 11));
        set.Append(kPropDigitalInput, VT_UI1, u"", Variant::Int32(parameter % 17));
        set.Append(kPropDigitalOutput, VT_UI1, u"", Variant::Int32(parameter % 17));
        set.Append(kPropWeightPoint, VT_UI1, u"", Variant::Int32(1 + parameter % 9));
        set.Append(kPropWeightPointLevel, VT_UI1, u"", Variant::Int32(parameter & 1));
        set.Append(kPropStateBit, VT_UI1, u"", Variant::Int32(parameter % 9));
        itemSets.push_back(std::make_unique<PropertySet>(std::move(set)));
        tasks.push_back(std::make_unique<HostTask>());
        purged.push_back(false);
        HostTask& task = *tasks.back();
        const bool sync = shape & 1;
        const TTask type =
            kind.write ? (sync ? tSyncWrite : tAsyncWrite) : (sync ? tSyncRead : tAsyncRead);
        if (kind.write) {
            task.SetValue(Variant::Int32(parameter));
        }
        const std::size_t index = tasks.size() - 1;
        task.item.onComplete = [this, index] { Reenter(index); };
        driver->AddTask(task.Def(type, static_cast<std::uint32_t>(index), node, *itemSets.back()));
    }

    void Reenter(std::size_t index) {
        Require(Completions(*tasks[index]) <= 1, "a task is completed at most once");
        if (reentry == Reentry::None || reentries >= 4) {
            return;
        }
        ++reentries;
        switch (reentry) {
        case Reentry::AddAndRun:
            AddTask(kKinds[reentries % std::size(kKinds)], static_cast<std::uint8_t>(reentries), 0);
            driver->RunTasks(0);
            break;
        case Reentry::PurgeOwn:
            driver->PurgeAction(&tasks[index]->item);
            break;
        case Reentry::PurgeAll:
            driver->PurgeActions();
            std::fill(purged.begin(), purged.end(), true);
            break;
        case Reentry::None:
            break;
        }
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInput in(data, size);
    FakeClock clock(platform::CivilTime{2026, 3, 2, 10, 0, 0, 0});
    DriverSettings = TDriverSettings{};
    Run run;
    GetKibDriver2(&run.driver);
    KibShortString name, descript, help;
    run.driver->Initial(&run.server, &run.com, &name, &descript, &help, &run.receive);

    const Kind& kind = kKinds[in.Byte() % std::size(kKinds)];
    const std::uint8_t flags = in.Byte();
    const std::uint8_t address = in.Byte();
    const TComPortNum port = flags & 0x80 ? 3 : 0;
    DriverSettings.CalcCRC = !(flags & 0x02);
    DriverSettings.CountTry = (flags >> 2) & 3; // 0 to 3 tries, 0 and 1 alike give one
    run.reentry = static_cast<Reentry>((flags >> 4) & 3);
    run.node = (flags & 0x01) ? SerialNode(port, address * 1000 + 7) : NetworkNode(port, address);

    const int count = 1 + (flags >> 6 & 1) + (in.Byte() & 1);
    for (int i = 0; i < count; ++i) {
        run.AddTask(kind, in.Byte(), in.Byte());
    }
    run.driver->RunTasks(0);

    while (!in.empty()) {
        switch (in.Byte() % 6) {
        case 0:
            clock.Advance(static_cast<std::int64_t>(in.Byte()) * 40);
            run.driver->Execute();
            break;
        case 1:
        case 2: { // bytes as the port delivers them
            const std::vector<std::uint8_t> bytes = in.Take(in.Byte() % 40);
            run.receive->OnReceiveData(port, bytes.data(), static_cast<std::int32_t>(bytes.size()));
            break;
        }
        case 3: // the time-out notice, a negative size, bytes for a port nobody uses, or the
                // operator switching the checksum while requests wait
            switch (in.Byte() % 4) {
            case 0:
                run.receive->OnReceiveData(port, nullptr, 0);
                break;
            case 1:
                run.receive->OnReceiveData(port, data, -static_cast<std::int32_t>(in.Byte()));
                break;
            case 2:
                run.receive->OnReceiveData(29, data, static_cast<std::int32_t>(in.left() % 9));
                break;
            default:
                DriverSettings.CalcCRC = !DriverSettings.CalcCRC;
                break;
            }
            break;
        case 4: {
            const std::size_t which = in.Byte() % run.tasks.size();
            run.purged[which] = true;
            run.driver->PurgeAction(&run.tasks[which]->item);
            break;
        }
        default:
            clock.Advance(3000);
            run.driver->Execute();
            break;
        }
    }

    // Nothing more arrives: every request runs out of tries and time, so every task ends.
    for (int cycle = 0; cycle < 200 && (!Ports.empty() && !PortDriver->WaitingTasks().empty());
         ++cycle) {
        clock.Advance(61000);
        run.driver->Execute();
    }
    for (std::size_t i = 0; i < run.tasks.size(); ++i) {
        const int completions = Run::Completions(*run.tasks[i]);
        Require(completions <= 1, "a task is completed at most once");
        Require(run.purged[i] || completions == 1, "a task that was not purged is completed");
    }
    Require(PortDriver->WaitingTasks().empty() && PortDriver->AddedTasks().empty(),
            "no task is left behind");
    run.driver->PurgeActions();
    run.driver->Deinitial();
    for (const auto& task : run.tasks) {
        Require(task->item.refs() == 0, "every item reference is released");
    }
    Require(run.server.refs() == 0 && run.com.refs() == 0, "the host's interfaces are released");
    DriverSettings = TDriverSettings{};
    return 0;
}
