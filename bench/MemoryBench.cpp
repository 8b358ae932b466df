// The driver's memory per queued task and per controller: task memory (the records the
// driver keeps for the host: task copies, requests) counted by the task-memory allocator,
// and the C++ heap (lists, indexes, registry) counted by replacing operator new here. The
// host's property sets and item states are made before counting starts.
#include "NullHost.h"
#include "config/PropertySet.h"
#include "driver/Main.h"
#include "fakes/HostTasks.h"
#include "platform/Com.h"

#include <benchmark/benchmark.h>

#include <malloc.h>

#include <cstdint>
#include <cstdlib>
#include <new>
#include <vector>

namespace {
std::int64_t gHeapLive = 0; // usable bytes held through operator new
} // namespace

// The replacements pair malloc with free by design; the compiler sees only the inlined halves.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(std::size_t size) {
    void* block = std::malloc(size == 0 ? 1 : size);
    if (!block) {
        throw std::bad_alloc();
    }
    gHeapLive += static_cast<std::int64_t>(malloc_usable_size(block));
    return block;
}
void* operator new[](std::size_t size) {
    return operator new(size);
}
void operator delete(void* block) noexcept {
    if (block) {
        gHeapLive -= static_cast<std::int64_t>(malloc_usable_size(block));
        std::free(block);
    }
}
void operator delete[](void* block) noexcept {
    operator delete(block);
}
void operator delete(void* block, std::size_t) noexcept {
    operator delete(block);
}
void operator delete[](void* block, std::size_t) noexcept {
    operator delete(block);
}
#pragma GCC diagnostic pop

namespace vemox::bench {
namespace {

struct Footprint {
    static Footprint Now() {
        return {static_cast<std::int64_t>(platform::TaskMemBytesHandedOut()), gHeapLive};
    }
    Footprint operator-(const Footprint& other) const {
        return {taskMemory - other.taskMemory, heap - other.heap};
    }
    std::int64_t taskMemory = 0; // handed out, never given back while the tasks wait
    std::int64_t heap = 0;
};

class Driver {
public:
    Driver() {
        platform::VariantInitialize(itemState_.vDataValue);
        GetKibDriver2(&driver_);
        KibShortString name, descript, help;
        driver_->Initial(&server_, &com_, &name, &descript, &help, &receive_);
    }
    ~Driver() {
        driver_->PurgeActions();
        driver_->Deinitial();
    }
    Driver(const Driver&) = delete;
    Driver& operator=(const Driver&) = delete;

    void Add(PropertySet& node, PropertySet& item) {
        TTaskDef def{};
        def.Task = tAsyncRead;
        def.Item = &item_;
        def.ptrItemState = &itemState_;
        def.ptrNodeProperties = node.get();
        def.ptrItemProperties = item.get();
        driver_->AddTask(def);
    }
    void Run() { driver_->RunTasks(0); }
    void Purge() { driver_->PurgeActions(); }

private:
    NullServer server_;
    NullComPort com_;
    NullItem item_;
    OPCITEMSTATE itemState_{};
    IKibDriver3* driver_ = nullptr;
    IKibReceiveData* receive_ = nullptr;
};

void Report(benchmark::State& state, const Footprint& used, std::int64_t count, const char* per) {
    const auto n = static_cast<double>(count);
    state.counters[std::string("task_mem_B_per_") + per] = static_cast<double>(used.taskMemory) / n;
    state.counters[std::string("heap_B_per_") + per] = static_cast<double>(used.heap) / n;
    state.counters[std::string("total_B_per_") + per] =
        static_cast<double>(used.taskMemory + used.heap) / n;
}

constexpr int kTasks = 10000;
constexpr int kControllers = 1000;

// Queued reads of one controller, each with a request of its own (one per batch) or all
// served by one shared request (one batch).
void BM_MemoryPerQueuedTask(benchmark::State& state) {
    const bool shared = state.range(0) != 0;
    PropertySet node = testing::NetworkNode(0, 5);
    PropertySet net = testing::Item(u"Вес Нетто");
    for (auto _ : state) {
        Driver driver;
        const Footprint start = Footprint::Now();
        for (int i = 0; i < kTasks; ++i) {
            driver.Add(node, net);
            if (!shared) {
                driver.Run();
            }
        }
        driver.Run();
        Report(state, Footprint::Now() - start, kTasks, "task");
        driver.Purge();
        // Capacity the lists keep for the next batches once every task is gone.
        state.counters["heap_B_kept_after_purge"] =
            static_cast<double>((Footprint::Now() - start).heap);
    }
}

// One queued read on each of many controllers, against as many reads of one controller:
// the difference is what the registry keeps per controller.
void BM_MemoryPerController(benchmark::State& state) {
    std::vector<PropertySet> nodes;
    for (int unit = 0; unit < kControllers; ++unit) {
        nodes.push_back(testing::SerialNode(0, 100000 + unit));
    }
    PropertySet net = testing::Item(u"Вес Нетто");
    for (auto _ : state) {
        Footprint many;
        {
            Driver driver;
            const Footprint start = Footprint::Now();
            for (PropertySet& node : nodes) {
                driver.Add(node, net);
                driver.Run();
            }
            many = Footprint::Now() - start;
        }
        Footprint one;
        {
            Driver driver;
            const Footprint start = Footprint::Now();
            for (int i = 0; i < kControllers; ++i) {
                driver.Add(nodes.front(), net);
                driver.Run();
            }
            one = Footprint::Now() - start;
        }
        Report(state, many - one, kControllers - 1, "controller");
    }
}

BENCHMARK(BM_MemoryPerQueuedTask)->ArgName("shared")->Arg(0)->Arg(1)->Iterations(1);
BENCHMARK(BM_MemoryPerController)->Iterations(1);

} // namespace
} // namespace vemox::bench

BENCHMARK_MAIN();
