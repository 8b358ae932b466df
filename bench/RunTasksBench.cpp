// Cost of committing a batch: 100 controllers on 10 ports, a mix of every read and write,
// in batches of 1,000 to 100,000 tasks. Only RunTasks is timed; adding the tasks and
// purging them afterwards (so memory stays flat across iterations) are not.
#include "config/PropertySet.h"
#include "contract/Constants.h"
#include "driver/Main.h"
#include "fakes/HostFakes.h"
#include "fakes/HostTasks.h"
#include "platform/Com.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

namespace vemox {
namespace {

using platform::Variant;
using testing::FakeItem;
using testing::Item;
using testing::NetworkNode;
using testing::Properties;
using testing::SerialNode;

constexpr int kPorts = 10;
constexpr int kControllersPerPort = 10;

struct Operand {
    TTask kind;
    PropertySet item;
};

struct Fixture {
    Fixture() {
        for (int port = 0; port < kPorts; ++port) {
            for (int unit = 1; unit <= kControllersPerPort; ++unit) {
                nodes.push_back(unit % 2 ? NetworkNode(port, unit)
                                         : SerialNode(port, 100000 + unit));
            }
        }
        for (TTask kind : {tAsyncRead, tSyncRead}) {
            operands.push_back({kind, Item(u"Вес Нетто")});
            operands.push_back({kind, Item(u"Вес Брутто")});
            for (int bit = 0; bit < 8; ++bit) {
                operands.push_back({kind, Item(u"Состояние", kPropStateBit, bit)});
                operands.push_back({kind, Item(u"Дискретные входы", kPropDigitalInput, bit)});
            }
            for (int counter = 0; counter < 4; ++counter) {
                operands.push_back({kind, Item(u"Счетчик", kPropCounter, counter)});
            }
            operands.push_back({kind, Item(u"Весовые точки", kPropWeightPoint, 1)});
            operands.push_back({kind, Item(u"Дискретные выходы", kPropDigitalOutput, 2)});
        }
        operands.push_back({tAsyncWrite, Item(u"Дискретные выходы", kPropDigitalOutput, 3)});
        operands.push_back({tAsyncWrite, Item(u"Управление дозированием")});
        operands.push_back(
            {tSyncWrite, Properties({{kPropOperation, Variant::Text(u"Весовые точки")},
                                     {kPropWeightPoint, Variant::Int32(2)},
                                     {kPropWeightPointLevel, Variant::Int32(1)}})});
    }
    std::vector<PropertySet> nodes;
    std::vector<Operand> operands;
};

void BM_RunTasks(benchmark::State& state) {
    static Fixture fixture;
    const auto count = static_cast<std::size_t>(state.range(0));
    std::vector<OPCITEMSTATE> states(count);
    std::vector<HRESULT> results(count);
    for (auto& itemState : states) {
        platform::VariantInitialize(itemState.vDataValue);
        itemState.vDataValue.vt = VT_R8;
        itemState.vDataValue.dblVal = 12.5;
    }
    FakeItem item;
    TComPortDriver& driver = *PortDriver;
    for (auto _ : state) {
        state.PauseTiming();
        for (std::size_t i = 0; i < count; ++i) {
            Operand& operand =
                fixture.operands[(i / fixture.nodes.size() + i) % fixture.operands.size()];
            TTaskDef def{};
            def.Task = operand.kind;
            def.Item = &item;
            def.TransactID = static_cast<std::uint32_t>(i);
            def.ptrItemState = &states[i];
            def.ptrNodeProperties = fixture.nodes[i % fixture.nodes.size()].get();
            def.ptrItemProperties = operand.item.get();
            def.ptrResult = &results[i];
            driver.AddTask(def);
        }
        state.ResumeTiming();
        benchmark::DoNotOptimize(driver.RunTasks(0));
        state.PauseTiming();
        std::size_t commands = 0;
        for (const TComPort& port : Ports) {
            commands += port.Commands.size();
        }
        state.counters["requests"] = static_cast<double>(commands);
        driver.PurgeActions();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(count));
    state.counters["per_task"] = benchmark::Counter(static_cast<double>(count),
                                                    benchmark::Counter::kIsIterationInvariantRate |
                                                        benchmark::Counter::kInvert);
}

BENCHMARK(BM_RunTasks)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace vemox

BENCHMARK_MAIN();
