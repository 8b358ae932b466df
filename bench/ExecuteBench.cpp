// Cost of one poll cycle over 100 ports, with a host port service that does nothing, so
// only the driver's own work is timed:
//   idle     - every port known, no request queued;
//   awaiting - every port's head request is on the line, 10 more queued behind it;
//   writing  - every port's head request is written in the cycle (the replies that free the
//              ports for the next cycle are delivered untimed).
// The driver reads the real clock here; the reply time-out is set out of reach so that no
// request times out while the benchmark runs.
#include "NullHost.h"
#include "config/PropertySet.h"
#include "driver/Globals.h"
#include "driver/Main.h"
#include "fakes/HostTasks.h"
#include "platform/Com.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <limits>
#include <vector>

namespace vemox::bench {
namespace {

constexpr int kPorts = 100;
constexpr std::uint8_t kNetReply[] = {0xFF, 0x05, 0xC2, 0x45, 0x23, 0x01, 0x00, 0x4A, 0xFF, 0xFF};

struct HundredPorts {
    HundredPorts() {
        DriverSettings.WaitTimeout = std::numeric_limits<std::int32_t>::max();
        for (int port = 0; port < kPorts; ++port) {
            nodes.push_back(testing::NetworkNode(port, 5));
        }
        platform::VariantInitialize(itemState.vDataValue);
        GetKibDriver2(&driver);
        KibShortString name, descript, help;
        driver->Initial(&server, &com, &name, &descript, &help, &receive);
    }
    ~HundredPorts() {
        driver->PurgeActions();
        driver->Deinitial();
        platform::VariantRelease(itemState.vDataValue);
        DriverSettings = TDriverSettings{};
    }
    HundredPorts(const HundredPorts&) = delete;
    HundredPorts& operator=(const HundredPorts&) = delete;

    // One net-weight read on every port, each with a request of its own.
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
    void AnswerEveryPort() {
        for (TComPortNum port = 0; port < kPorts; ++port) {
            receive->OnReceiveData(port, kNetReply, sizeof kNetReply);
        }
    }

    NullServer server;
    NullComPort com;
    NullItem item;
    OPCITEMSTATE itemState{};
    std::vector<PropertySet> nodes;
    PropertySet net = testing::Item(u"Вес Нетто");
    IKibDriver3* driver = nullptr;
    IKibReceiveData* receive = nullptr;
};

void BM_ExecuteIdle(benchmark::State& state) {
    HundredPorts line;
    line.QueueOnePerPort();
    line.driver->Execute();
    line.AnswerEveryPort(); // the ports stay registered with empty queues
    for (auto _ : state) {
        line.driver->Execute();
    }
    state.counters["ports"] = kPorts;
}

void BM_ExecuteAwaiting(benchmark::State& state) {
    HundredPorts line;
    for (int i = 0; i < 11; ++i) {
        line.QueueOnePerPort();
    }
    line.driver->Execute();
    const long written = line.com.writes;
    for (auto _ : state) {
        line.driver->Execute();
    }
    if (line.com.writes != written) {
        state.SkipWithError("a request was written again while its reply was awaited");
    }
}

void BM_ExecuteWriting(benchmark::State& state) {
    HundredPorts line;
    for (int i = 0; i < 10; ++i) {
        line.QueueOnePerPort();
    }
    for (auto _ : state) {
        line.driver->Execute();
        state.PauseTiming();
        line.AnswerEveryPort();
        line.QueueOnePerPort();
        state.ResumeTiming();
    }
    state.counters["writes_per_cycle"] = benchmark::Counter(static_cast<double>(line.com.writes),
                                                            benchmark::Counter::kAvgIterations);
}

BENCHMARK(BM_ExecuteIdle)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ExecuteAwaiting)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ExecuteWriting)->Unit(benchmark::kMicrosecond);

} // namespace
} // namespace vemox::bench

BENCHMARK_MAIN();
