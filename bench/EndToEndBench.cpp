// End-to-end throughput on simulated time: the reference host's session (scan scheduling,
// batching, Execute, reply delivery, Execute again at once) with the real driver library,
// against the in-process controller model whose bytes take their wire time at the line's
// baud rate and whose controllers answer after a turnaround.
//
// The host's and the driver's own work is not free: the CPU time they spend (scan, Execute,
// delivery, Execute again) is added to simulated time whenever the line is touched and
// before the host waits, so a slow driver shows up as line time lost.
//
// The figure of merit is the ratio of the line time the exchanges need (request and reply
// bytes at 10 bits each, plus the turnaround) to the simulated time they took: 1.0 means the
// line never idled between exchanges.
//
// Two ways for the host to spend the time between its Execute periods:
//   wait  - the session's own wait on the line (poll on the real host), here jumping to the
//           next byte due; a reply is delivered as soon as it is complete and Execute runs
//           again at once.
//   sleep - the host sleeps out each period and only then looks at the line, as it did
//           before it waited on the line; every exchange is rounded up to the period. Kept
//           as the baseline the wait is measured against.
#include "host/config/HostConfig.h"
#include "host/line/HostClock.h"
#include "host/line/SerialLine.h"
#include "host/session/DriverSession.h"
#include "sim/Simulator.h"
#include "sim/Timing.h"

#include <benchmark/benchmark.h>

#include <time.h>

#include <algorithm>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <sstream>
#include <string>

namespace vemox::bench {
namespace {

using sim::SimTime;

constexpr std::int64_t kNsPerMs = 1'000'000;
constexpr std::int64_t kWarmUpMs = 2'000;
constexpr std::int64_t kMeasureMs = 20'000;
constexpr int kControllers = 2;

// What the line carried: the exchanges the model answered and the line time they need.
struct Ledger {
    std::int64_t exchanges = 0;
    std::int64_t needNs = 0;
};

std::int64_t ThreadCpuNs() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

// Simulated time, with the host's millisecond clock following it. The CPU time the host
// and the driver spend is charged to it whenever the line is touched and before each wait.
struct SimulatedTime {
    void ChargeWork() {
        const std::int64_t cpu = ThreadCpuNs();
        chargedNs += cpu - mark;
        AdvanceTo(now + SimTime(cpu - mark));
        mark = cpu;
    }
    void StartWork() { mark = ThreadCpuNs(); }
    void AdvanceTo(SimTime to) {
        now = std::max(now, to);
        const std::int64_t ms = now.count() / kNsPerMs;
        hostClock.Advance(ms - hostClock.NowMs());
    }
    SimTime now{0};
    host::ManualClock hostClock;
    std::int64_t mark = ThreadCpuNs();
    std::int64_t chargedNs = 0;
};

// The host's end of the line; the far end is the controller model. A request reaches the
// model when its last byte has crossed the line; reply bytes become readable when theirs has.
class SimulatedLine final : public host::SerialLine {
public:
    SimulatedLine(const sim::SimConfig& config, SimulatedTime& time, Ledger& ledger)
        : model_(config), time_(time), ledger_(ledger) {
        model_.SetObserver([this](const sim::Exchange& exchange) {
            answered_ = exchange.number != 0;
            replyBytes_ = exchange.sent.size();
        });
    }

    bool Write(const std::uint8_t* data, std::size_t size) override {
        time_.ChargeWork();
        const sim::LineTiming& timing = model_.timing();
        const SimTime arrival = timing.ByteDue(time_.now, size);
        answered_ = false;
        model_.Receive(data, size, arrival);
        if (answered_) {
            ++ledger_.exchanges;
            ledger_.needNs +=
                (timing.ByteDue(SimTime{0}, size + replyBytes_) + timing.turnaround).count();
        }
        while (const auto due = model_.NextDue()) {
            for (const std::uint8_t byte : model_.TakeDue(*due)) {
                inFlight_.push_back({*due, byte});
            }
        }
        return true;
    }

    std::size_t Read(std::uint8_t* buffer, std::size_t capacity) override {
        time_.ChargeWork();
        std::size_t count = 0;
        while (count < capacity && !inFlight_.empty() && inFlight_.front().due <= time_.now) {
            buffer[count++] = inFlight_.front().byte;
            inFlight_.pop_front();
        }
        return count;
    }

    // When the next byte still on its way will have arrived.
    std::optional<SimTime> NextDueAfter(SimTime now) const {
        for (const Due& byte : inFlight_) {
            if (byte.due > now) {
                return byte.due;
            }
        }
        return std::nullopt;
    }

private:
    struct Due {
        SimTime due;
        std::uint8_t byte;
    };
    sim::Simulator model_;
    SimulatedTime& time_;
    Ledger& ledger_;
    std::deque<Due> inFlight_;
    bool answered_ = false;
    std::size_t replyBytes_ = 0;
};

// Two controllers, so that a request is always queued while another is on the line. The
// "net" set reads one net weight per controller; the "node" set reads 20 items per
// controller over net and gross weight, 8 inputs, 8 outputs and 2 counters: 6 requests.
std::string HostConfigText(bool wholeNode, std::int64_t baud, std::int64_t periodMs) {
    std::ostringstream text;
    text << "[host]\nexecute_ms = " << periodMs << "\n";
    text << "[[port]]\nname = \"COM1\"\nbaud = " << baud << "\n";
    for (int unit = 1; unit <= kControllers; ++unit) {
        const std::string node = "N" + std::to_string(unit);
        text << "[[node]]\nname = \"" << node << "\"\nport = \"COM1\"\naddress = " << unit
             << "\nscan_rate = 0\n";
        auto item = [&](const std::string& name, const char* operation, const char* key,
                        int parameter) {
            text << "[[item]]\nnode = \"" << node << "\"\nname = \"" << name << "\"\noperation = \""
                 << operation << "\"\n";
            if (key) {
                text << key << " = " << parameter << "\n";
            }
        };
        item("net", "Вес Нетто", nullptr, 0);
        if (!wholeNode) {
            continue;
        }
        item("gross", "Вес Брутто", nullptr, 0);
        for (int bit = 0; bit < 8; ++bit) {
            item("in" + std::to_string(bit), "Дискретные входы", "input", bit);
            item("out" + std::to_string(bit), "Дискретные выходы", "output", bit);
        }
        for (int counter = 0; counter < 2; ++counter) {
            item("count" + std::to_string(counter), "Счетчик", "counter", counter);
        }
    }
    return text.str();
}

sim::SimConfig ModelOf(std::int64_t baud, std::int64_t turnaroundMs) {
    sim::SimConfig config;
    config.line.checksum = true;
    for (int unit = 1; unit <= kControllers; ++unit) {
        sim::ControllerConfig controller;
        controller.address = unit;
        controller.serial = 1000 + static_cast<std::uint32_t>(unit);
        controller.net = 12345;
        controller.tare = 500;
        controller.inputs = 0x00A5;
        controller.outputs = 0x005A;
        config.line.controllers.push_back(controller);
    }
    config.timing.baud = static_cast<std::uint32_t>(baud);
    config.timing.turnaround = SimTime(turnaroundMs * kNsPerMs);
    return config;
}

struct Updates {
    std::int64_t good = 0;
    std::int64_t failed = 0;
};

Updates CountUpdates(host::DriverSession& session) {
    Updates updates;
    for (const host::SessionItem& item : session.Items()) {
        updates.good += item.host.Counts().completed - item.host.Counts().failed;
        updates.failed += item.host.Counts().failed;
    }
    return updates;
}

void BM_EndToEnd(benchmark::State& state) {
    const bool wholeNode = state.range(0) != 0;
    const std::int64_t baud = state.range(1);
    const std::int64_t turnaroundMs = state.range(2);
    const std::int64_t periodMs = state.range(3);
    const bool waitOnLine = state.range(4) == 0;

    for (auto _ : state) {
        SimulatedTime time;
        Ledger ledger;
        SimulatedLine* line = nullptr;
        host::DriverSession session(
            host::ParseHostConfig(HostConfigText(wholeNode, baud, periodMs), "bench.toml"),
            VEMOX_DRIVER_PATH, time.hostClock, {}, [&](const host::PortConfig&) {
                auto made =
                    std::make_unique<SimulatedLine>(ModelOf(baud, turnaroundMs), time, ledger);
                line = made.get();
                return made;
            });

        time.StartWork(); // loading the library is not the line's concern
        host::RunHooks hooks;
        hooks.wait = [&](std::int64_t ms) {
            time.ChargeWork();
            SimTime wake((time.hostClock.NowMs() + ms) * kNsPerMs);
            if (waitOnLine) {
                if (const auto due = line->NextDueAfter(time.now); due && *due < wake) {
                    wake = *due;
                }
            }
            time.AdvanceTo(wake);
            time.StartWork();
        };

        session.RunUntil(nullptr, kWarmUpMs, true, hooks);
        const Ledger before = ledger;
        const Updates updatesBefore = CountUpdates(session);
        const SimTime start = time.now;
        const std::int64_t cpuBefore = time.chargedNs;
        session.RunUntil(nullptr, kWarmUpMs + kMeasureMs, true, hooks);
        const double seconds = static_cast<double>((time.now - start).count()) / 1e9;
        const std::int64_t exchanges = ledger.exchanges - before.exchanges;
        const double need = static_cast<double>(ledger.needNs - before.needNs) / 1e9;

        state.counters["exch_per_s"] = static_cast<double>(exchanges) / seconds;
        state.counters["limit_exch_per_s"] = static_cast<double>(exchanges) / need;
        const Updates updates = CountUpdates(session);
        state.counters["items_per_s"] =
            static_cast<double>(updates.good - updatesBefore.good) / seconds;
        state.counters["failed_tasks"] = static_cast<double>(updates.failed);
        state.counters["line_ratio"] = need / seconds;
        state.counters["host_cpu_share"] =
            static_cast<double>(time.chargedNs - cpuBefore) / 1e9 / seconds;
    }
}

void Grid(benchmark::internal::Benchmark* bench) {
    bench->ArgNames({"node", "baud", "turn_ms", "exec_ms", "sleep"});
    for (const int sleep : {0, 1}) {
        for (const int wholeNode : {0, 1}) {
            if (sleep && !wholeNode) {
                continue; // the baseline is shown on one item set
            }
            for (const int periodMs : {1, 10}) {
                for (const int turnaround : {0, 5, 20}) {
                    for (const int baud : {9600, 19200, 38400, 57600, 115200}) {
                        bench->Args({wholeNode, baud, turnaround, periodMs, sleep});
                    }
                }
            }
        }
    }
}

BENCHMARK(BM_EndToEnd)->Apply(Grid)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace vemox::bench

BENCHMARK_MAIN();
