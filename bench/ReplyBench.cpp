// Cost of handling one reply while many other tasks wait: one controller on each of 100
// ports, with 1 to 100 read requests queued per port. Each iteration answers the head request
// of every port (100 completed tasks) and then queues 100 new ones, so the number waiting stays
// the same. Only OnReceiveData is timed; the poll cycle that writes the heads is not.
#include "config/PropertySet.h"
#include "contract/Constants.h"
#include "driver/Main.h"
#include "fakes/FakeClock.h"
#include "fakes/HostFakes.h"
#include "fakes/HostTasks.h"
#include "platform/Com.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

namespace vemox {
namespace {

using testing::FakeComPort;
using testing::FakeItem;
using testing::FakeServer;
using testing::Item;
using testing::NetworkNode;

constexpr int kPorts = 100;

struct Line {
    Line() {
        for (int port = 0; port < kPorts; ++port) {
            nodes.push_back(NetworkNode(port, 5));
        }
        platform::VariantInitialize(itemState.vDataValue);
        GetKibDriver2(&driver);
        KibShortString name, descript, help;
        driver->Initial(&server, &com, &name, &descript, &help, &receive);
    }
    ~Line() {
        driver->PurgeActions();
        driver->Deinitial();
    }
    // One batch: a net-weight read on every port; batches never share requests.
    void QueueOnePerPort() {
        for (PropertySet& node : nodes) {
            TTaskDef def{};
            def.Task = tAsyncRead;
            def.Item = &item;
            def.ptrItemState = &itemState;
            def.ptrNodeProperties = node.get();
            def.ptrItemProperties = net.get();
            driver->AddTask(def);
        }
        driver->RunTasks(0);
    }
    void Forget() {
        server.log.clear();
        server.logKinds.clear();
        com.calls.clear();
        item.completions.clear();
        item.exchanges.clear();
    }

    testing::FakeClock clock{platform::CivilTime{2026, 3, 2, 10, 0, 0, 0}};
    FakeServer server;
    FakeComPort com;
    FakeItem item;
    OPCITEMSTATE itemState{};
    std::vector<PropertySet> nodes;
    PropertySet net = Item(u"Вес Нетто");
    IKibDriver3* driver = nullptr;
    IKibReceiveData* receive = nullptr;
};

void BM_ReplyPerCompletedTask(benchmark::State& state) {
    const auto perPort = static_cast<int>(state.range(0));
    Line line;
    for (int i = 0; i < perPort; ++i) {
        line.QueueOnePerPort();
    }
    const std::uint8_t reply[] = {0xFF, 0x05, 0xC2, 0x45, 0x23, 0x01, 0x00, 0x4A, 0xFF, 0xFF};
    std::int64_t completed = 0;
    for (auto _ : state) {
        state.PauseTiming();
        line.driver->Execute(); // every port's head goes out and awaits its reply
        line.Forget();
        state.ResumeTiming();
        for (TComPortNum port = 0; port < kPorts; ++port) {
            line.receive->OnReceiveData(port, reply, sizeof reply);
        }
        state.PauseTiming();
        completed += static_cast<std::int64_t>(line.item.completions.size());
        line.QueueOnePerPort();
        state.ResumeTiming();
    }
    state.counters["waiting"] = static_cast<double>(PortDriver->WaitingTasks().size());
    state.SetItemsProcessed(completed);
}

BENCHMARK(BM_ReplyPerCompletedTask)->Arg(1)->Arg(10)->Arg(100)->Unit(benchmark::kMicrosecond);

} // namespace
} // namespace vemox

BENCHMARK_MAIN();
