// Soak on simulated time: a polling host with items on several ports and controllers drives
// the driver through its public interfaces; the host's port service writes every request into
// the in-process controller simulator, which answers with every fault it knows mixed in, and
// hands the reply bytes back once the line has gone quiet; before each request it drops what
// has arrived and not been handed over, as the reference host does. Nothing sleeps: the clock is
// the test's. The run counts and checks, for every exchange and every task:
//  - each task is completed exactly once, or dropped by a purge without completion;
//  - a write reported good was applied by the simulated controller with the value asked for,
//    and a write applied but reported failed is explained by what happened to its reply;
//  - a good outcome comes only from a reply to the very request that was written last, and a
//    good read carries the value the controller holds;
//  - every item reference is released; heap use and queue lengths stay flat after warm-up.
// Usage: vemox_soak [exchanges, default 20000] [seed, default 1]
#include "contract/Constants.h"
#include "driver/Globals.h"
#include "driver/Main.h"
#include "fakes/FakeClock.h"
#include "fakes/HostFakes.h"
#include "fakes/HostTasks.h"
#include "platform/Com.h"
#include "sim/Simulator.h"

#include <malloc.h>

#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

using namespace vemox;
using namespace vemox::testing;
using platform::Variant;
using sim::SimTime;

namespace {

constexpr int kPorts = 3;
constexpr int kControllersPerPort = 2;
constexpr std::int32_t kWaitTimeoutMs = 300;
constexpr std::int64_t kQuietMs = 3; // the port service hands bytes over after this silence
// Exchanges remembered for the checks: far more than can be under way within one time-out.
constexpr std::size_t kExchangesKept = 1024;
// Heap and queues are measured from here on, once the soak's own records are at full size.
constexpr std::uint64_t kWarmUpExchanges = 5000;

SimTime Ms(std::int64_t ms) {
    return std::chrono::milliseconds(ms);
}

struct Counts {
    std::uint64_t exchanges = 0; // requests written
    std::uint64_t tasks = 0;
    std::uint64_t good = 0;
    std::uint64_t failed = 0;
    std::uint64_t purged = 0;
    std::uint64_t faults[8] = {};
    std::uint64_t deliveries = 0;
    std::uint64_t staleSameRequest = 0;  // an older reply to an identical request, accepted
    std::uint64_t staleBytesDropped = 0; // arrived before a request and dropped by the host
    std::uint64_t appliedButFailed = 0;  // explained by the reply's fate
    std::uint64_t repeatsApplied = 0;    // one write applied more than once
    // Violations: each must stay 0.
    std::uint64_t doubleCompletions = 0;
    std::uint64_t lost = 0;
    std::uint64_t goodWithoutReply = 0;
    std::uint64_t misattributed = 0;
    std::uint64_t wrongValue = 0;
    std::uint64_t goodNotApplied = 0;
    std::uint64_t appliedFailedUnexplained = 0;
    std::uint64_t leakedReferences = 0;
};

enum class What { Net, Gross, Counter, Input, OutputRead, State, PointRead, Dosing, OutputWrite };

struct Tag {
    std::uint64_t exchange; // simulator exchange id (our own numbering)
};

// What the port service knows of one exchange the simulator saw.
struct ExchangeInfo {
    sim::Bytes request;
    SimTime at{0};
    SimTime firstDue{0};
    bool answered = false;
    sim::FaultKind fault = sim::FaultKind::None;
    bool mixed = false;   // delivered together with bytes of another exchange
    bool split = false;   // delivered in more than one piece
    bool dropped = false; // bytes of it dropped as stale before a later request went out
    int deliveries = 0;
};

class Soak;

// The host's serial-port service in front of one simulator per port.
class SimulatedPorts final : public CountedFake<IKibComPort3> {
public:
    explicit SimulatedPorts(Soak& soak) : soak_(soak) {}
    HRESULT VX_STDCALL QueryInterface(REFIID riid, void** object) override {
        *object = nullptr;
        if (SameGuid(riid, IID_IKibComPort3) || SameGuid(riid, IID_IUnknown_)) {
            *object = static_cast<IKibComPort3*>(this);
            AddRef();
            return S_OK;
        }
        return E_NOINTERFACE;
    }
    std::uint8_t VX_STDCALL WriteData(TComPortNum port, const void* data, std::int32_t size,
                                      IKibReceiveData*) override;
    void VX_STDCALL PortSlot2() override {}
    void VX_STDCALL ReleasePort(TComPortNum, IKibReceiveData*) override {}
    void VX_STDCALL PortSlot4() override {}
    void VX_STDCALL PortSlot5() override {}
    void VX_STDCALL PortSlot6() override {}
    void VX_STDCALL PortSlot7() override {}
    void VX_STDCALL PortSlot8() override {}
    void VX_STDCALL PortSlot9() override {}
    void VX_STDCALL PortSlot10() override {}
    bool VX_STDCALL CapturePort(TComPortNum, IKibReceiveData*) override { return true; }
    void VX_STDCALL ServicePort(TComPortNum, IKibReceiveData*) override {}

private:
    Soak& soak_;
};

struct Line {
    std::unique_ptr<sim::Simulator> simulator;
    sim::Bytes lastWritten;                // unstuffed body of the last request written
    std::uint64_t lastWrittenExchange = 0; // the exchange it made, 0 when nobody answered
    std::deque<std::pair<std::uint64_t, std::size_t>> owners; // due bytes: exchange, count
    sim::Bytes inbox;
    std::vector<std::uint64_t> inboxOwners;
    SimTime lastByte{0};
};

struct HostItem {
    What what;
    int port;
    int controller;
    std::uint8_t parameter; // bit, counter or point number
    PropertySet node;
    PropertySet props;
    std::unique_ptr<HostTask> task; // the outstanding task, if any
    bool outstanding = false;
    bool purged = false;
    int writeValue = 0;
    SimTime addedAt{0};
    SimTime idleUntil{0};
};

class Soak {
public:
    Soak(std::uint64_t exchanges, std::uint64_t seed)
        : target_(exchanges), random_(seed), clock_(platform::CivilTime{2026, 3, 2, 10, 0, 0, 0}),
          ports_(*this) {
        for (int p = 0; p < kPorts; ++p) {
            sim::SimConfig config;
            config.timing.baud = 115200;
            config.timing.turnaround = Ms(1);
            for (int c = 0; c < kControllersPerPort; ++c) {
                sim::ControllerConfig controller;
                controller.address = 5 + 10 * c + p;
                controller.serial = static_cast<std::uint32_t>(controller.address);
                controller.decimals = static_cast<std::uint8_t>(c);
                controller.net = 1234 + 100 * p + c;
                controller.tare = 500;
                controller.counters[2] = 987654;
                controller.inputs = 0x0081;
                controller.outputs = 0x0000;
                controller.points[1] = {1500, 2500};
                controller.state = 0x05;
                config.line.controllers.push_back(controller);
            }
            for (sim::FaultKind kind : sim::kAllFaults) {
                config.faults.rates[kind] = 0.015;
            }
            config.faults.settings.lateMs = kWaitTimeoutMs + 100; // after the driver gave up
            config.faults.seed = seed * 31 + static_cast<std::uint64_t>(p);
            lines_[p].simulator = std::make_unique<sim::Simulator>(config);
            lines_[p].simulator->SetObserver([this, p](const sim::Exchange& e) { Observe(p, e); });
        }
        const What kinds[] = {What::Net,       What::Gross,      What::Counter,
                              What::Input,     What::OutputRead, What::State,
                              What::PointRead, What::Dosing,     What::OutputWrite};
        for (int p = 0; p < kPorts; ++p) {
            for (int c = 0; c < kControllersPerPort; ++c) {
                for (What what : kinds) {
                    auto item = std::make_unique<HostItem>();
                    item->what = what;
                    item->port = p;
                    item->controller = c;
                    item->parameter = what == What::OutputWrite ? 3
                                      : what == What::PointRead ? 1
                                      : what == What::Counter   ? 2
                                      : what == What::State     ? 2
                                                                : 7;
                    item->node = NetworkNode(p, 5 + 10 * c + p);
                    item->props = Props(what, item->parameter);
                    items_.push_back(std::move(item));
                }
            }
        }
    }

    int Run() {
        GetKibDriver2(&driver_);
        KibShortString name, descript, help;
        driver_->Initial(&server_, &ports_, &name, &descript, &help, &receive_);
        Setting(kKeyWaitTimeout, std::to_string(kWaitTimeoutMs));
        Setting(kKeyTimeNextSend, "1000");

        std::size_t warmHeap = 0;
        std::size_t warmQueue = 0;
        std::size_t maxQueue = 0;
        std::size_t peakHeapAfterWarmUp = 0;
        std::uint64_t nextPurge = 5000;
        std::uint64_t nextPurgeAll = 60000;
        while (counts_.exchanges < target_) {
            now_ += Ms(1);
            clock_.Advance(1);
            ++ms_;
            HostAddsTasks();
            driver_->Execute();
            DeliverQuietLines();
            if (ms_ >= nextPurge) {
                nextPurge += 3000 + random_.Next() % 4000;
                HostItem& item = *items_[random_.Next() % items_.size()];
                if (item.task) {
                    item.purged = item.outstanding;
                    driver_->PurgeAction(&item.task->item);
                    Reclaim(item);
                }
            }
            if (ms_ >= nextPurgeAll) {
                nextPurgeAll += 50000 + random_.Next() % 20000;
                driver_->PurgeActions();
                for (auto& item : items_) {
                    if (item->outstanding) {
                        item->purged = true;
                    }
                    Reclaim(*item);
                }
            }
            const std::size_t queue = QueueLength();
            maxQueue = std::max(maxQueue, queue);
            if (counts_.exchanges >= std::max(target_ / 10, kWarmUpExchanges) && warmHeap == 0) {
                warmHeap = HeapInUse();
                warmQueue = maxQueue;
            }
            if (ms_ % 1000 == 0) {
                // The recording server keeps every line; the soak needs none of them.
                logLines_ += server_.log.size();
                server_.log.clear();
                server_.logKinds.clear();
            }
            if (warmHeap != 0 && ms_ % 1000 == 0) {
                peakHeapAfterWarmUp = std::max(peakHeapAfterWarmUp, HeapInUse());
            }
        }
        // The host stops asking; whatever is outstanding runs out.
        stopping_ = true;
        for (int i = 0; i < 20000 && Outstanding() > 0; ++i) {
            now_ += Ms(1);
            clock_.Advance(1);
            ++ms_;
            driver_->Execute();
            DeliverQuietLines();
        }
        counts_.lost += Outstanding();
        driver_->PurgeActions();
        driver_->Deinitial();
        for (auto& item : items_) {
            Reclaim(*item);
            if (item->task && item->task->item.refs() != 0) {
                ++counts_.leakedReferences;
            }
        }
        if (ports_.refs() != 0 || server_.refs() != 0) {
            ++counts_.leakedReferences;
        }
        return Report(warmHeap, peakHeapAfterWarmUp, warmQueue, maxQueue);
    }

    // Called by the port service for every request written.
    std::uint8_t Written(TComPortNum port, const std::uint8_t* data, std::int32_t size) {
        ++counts_.exchanges;
        Line& line = lines_[port];
        sim::FrameParser parser;
        const auto bodies = parser.Feed(data, static_cast<std::size_t>(size));
        line.lastWritten = bodies.empty() ? sim::Bytes{} : bodies.front();
        line.lastWrittenExchange = 0;
        DropStaleInput(line);
        line.simulator->Receive(data, static_cast<std::size_t>(size), now_);
        return 0;
    }

private:
    static PropertySet Props(What what, std::uint8_t parameter) {
        switch (what) {
        case What::Net:
            return Item(u"Вес Нетто");
        case What::Gross:
            return Item(u"Вес Брутто");
        case What::Counter:
            return Item(u"Счетчик", kPropCounter, parameter);
        case What::Input:
            return Item(u"Дискретные входы", kPropDigitalInput, parameter);
        case What::OutputRead:
            return Item(u"Дискретные выходы", kPropDigitalOutput, parameter);
        case What::State:
            return Item(u"Состояние", kPropStateBit, parameter);
        case What::PointRead: {
            PropertySet set = Item(u"Весовые точки", kPropWeightPoint, parameter);
            set.Append(kPropWeightPointLevel, VT_UI1, u"", Variant::Int32(1));
            return set;
        }
        case What::Dosing:
            return Item(u"Управление дозированием");
        case What::OutputWrite:
            return Item(u"Дискретные выходы", kPropDigitalOutput, parameter);
        }
        return Item(u"Вес Нетто");
    }

    void Setting(const char16_t* key, const std::string& value) {
        KibShortString name, text;
        GetShortString(key, name);
        GetShortString(platform::Widen(value), text);
        driver_->LoadConfig(name, text);
    }

    void Observe(int port, const sim::Exchange& e) {
        ExchangeInfo info;
        info.request = e.request;
        info.at = e.at;
        info.firstDue = e.firstDue;
        info.answered = e.number != 0;
        info.fault = e.fault.kind;
        const std::uint64_t id = ++exchangeIds_;
        Line& line = lines_[port];
        if (info.answered) {
            ++counts_.faults[static_cast<int>(info.fault)];
            if (!e.sent.empty()) {
                line.owners.emplace_back(id, e.sent.size());
            }
            line.lastWrittenExchange = id;
            if (e.request.size() >= 3 && e.request[1] == sim::cmd::kWriteDosing) {
                applied_[{port, e.request}].push_back(id);
            }
        }
        exchanges_.emplace(id, std::move(info));
        // Old exchanges are no longer needed once well behind.
        while (exchanges_.size() > kExchangesKept) {
            exchanges_.erase(exchanges_.begin());
        }
        if (applied_.size() > kExchangesKept) {
            const std::uint64_t oldest = exchanges_.begin()->first;
            for (auto it = applied_.begin(); it != applied_.end();) {
                it = it->second.back() < oldest ? applied_.erase(it) : std::next(it);
            }
        }
    }

    void HostAddsTasks() {
        if (stopping_) {
            return;
        }
        bool added = false;
        for (auto& holder : items_) {
            HostItem& item = *holder;
            if (item.outstanding || now_ < item.idleUntil) {
                continue;
            }
            Reclaim(item);
            item.task = std::make_unique<HostTask>();
            HostTask& task = *item.task;
            const bool write = item.what == What::Dosing || item.what == What::OutputWrite;
            if (item.what == What::Dosing) {
                item.writeValue = 1 + static_cast<int>(random_.Next() % 250);
                task.SetValue(Variant::Int32(item.writeValue));
            } else if (item.what == What::OutputWrite) {
                item.writeValue = static_cast<int>(random_.Next() % 2);
                task.SetValue(Variant::Bool(item.writeValue != 0));
            }
            HostItem* self = &item;
            task.item.onComplete = [this, self] { Completed(*self); };
            item.outstanding = true;
            item.purged = false;
            item.addedAt = now_;
            ++counts_.tasks;
            driver_->AddTask(task.Def(write ? tAsyncWrite : tAsyncRead,
                                      static_cast<std::uint32_t>(counts_.tasks), item.node,
                                      item.props));
            added = true;
        }
        if (added) {
            driver_->RunTasks(0);
        }
    }

    // A task's item is done with: a purge or completion took the driver's reference.
    void Reclaim(HostItem& item) {
        if (!item.task) {
            return;
        }
        if (item.outstanding && item.purged) {
            item.outstanding = false;
            ++counts_.purged;
            item.idleUntil = now_ + Ms(static_cast<std::int64_t>(random_.Next() % 200));
        }
        if (!item.outstanding) {
            if (item.task->item.refs() != 0) {
                ++counts_.leakedReferences;
            }
            item.task.reset();
        }
    }

    void Completed(HostItem& item) {
        HostTask& task = *item.task;
        if (!item.outstanding || task.item.completions.size() != 1) {
            ++counts_.doubleCompletions;
            return;
        }
        item.outstanding = false;
        item.idleUntil = now_ + Ms(static_cast<std::int64_t>(random_.Next() % 200));
        const HRESULT result = task.item.completions.back().result;
        const bool write = item.what == What::Dosing || item.what == What::OutputWrite;
        Line& line = lines_[item.port];
        sim::Controller& controller =
            line.simulator->line().controller(static_cast<std::size_t>(item.controller));
        if (result == S_OK) {
            ++counts_.good;
            if (!delivering_ || delivering_->port != item.port) {
                ++counts_.goodWithoutReply;
                return;
            }
            // A delivery may hold frames of several exchanges; the one judged answers the
            // request written last, and it is the first such frame that arrived.
            std::uint64_t owner = 0;
            for (const std::uint64_t candidate : delivering_->owners) {
                const auto info = exchanges_.find(candidate);
                if (info != exchanges_.end() && info->second.request == line.lastWritten) {
                    owner = candidate;
                    break;
                }
            }
            if (owner == 0) {
                ++counts_.misattributed;
                return;
            }
            if (owner != line.lastWrittenExchange) {
                ++counts_.staleSameRequest;
            }
            if (write) {
                const bool applied =
                    item.what == What::Dosing
                        ? controller.Dosing() == item.writeValue
                        : ((controller.Outputs() >> item.parameter) & 1) == item.writeValue;
                if (!applied) {
                    ++counts_.goodNotApplied;
                }
                if (item.what == What::Dosing) {
                    ForgetApplied(item);
                }
            } else if (!ValueRight(item, task, controller)) {
                ++counts_.wrongValue;
            }
        } else {
            ++counts_.failed;
            if (item.what == What::Dosing) {
                CheckFailedWrite(item);
            }
        }
    }

    // Values that the controllers hold still: weights, counters, inputs, state, points.
    bool ValueRight(const HostItem& item, const HostTask& task, const sim::Controller& c) const {
        const VARIANT& v = task.state.vDataValue;
        const double scale = std::pow(10.0, c.config().decimals);
        switch (item.what) {
        case What::Net:
            return v.vt == VT_R8 && std::fabs(v.dblVal - c.config().net / scale) < 1e-9;
        case What::Gross:
            return v.vt == VT_R8 &&
                   std::fabs(v.dblVal - (c.config().net + c.config().tare) / scale) < 1e-9;
        case What::Counter:
            return v.vt == VT_R8 && v.dblVal == static_cast<double>(c.config().counters[2]);
        case What::Input:
            return v.vt == VT_I4 && v.lVal == ((c.config().inputs >> item.parameter) & 1);
        case What::State:
            return v.vt == VT_I4 && v.lVal == ((c.StateByte() >> item.parameter) & 1);
        case What::PointRead: // scaled once the controller's decimals are cached
            return v.vt == VT_R8 &&
                   (std::fabs(v.dblVal - c.Point(item.parameter).high / scale) < 1e-9 ||
                    v.dblVal == static_cast<double>(c.Point(item.parameter).high));
        default:
            return true; // outputs change under the writes; their checks are the writes'
        }
    }

    sim::Bytes DosingBody(const HostItem& item) {
        sim::Line& line = lines_[item.port].simulator->line();
        sim::Bytes body{
            static_cast<std::uint8_t>(
                line.controller(static_cast<std::size_t>(item.controller)).config().address),
            sim::cmd::kWriteDosing, static_cast<std::uint8_t>(item.writeValue)};
        line.Seal(body);
        return body;
    }
    void ForgetApplied(const HostItem& item) { applied_.erase({item.port, DosingBody(item)}); }

    // A dosing write reported failed: if the controller applied its value after the task was
    // added, what happened to that exchange's reply must explain the failure.
    void CheckFailedWrite(const HostItem& item) {
        const auto found = applied_.find({item.port, DosingBody(item)});
        if (found == applied_.end()) {
            return;
        }
        int appliedTimes = 0;
        bool unexplained = false;
        for (std::uint64_t id : found->second) {
            const auto info = exchanges_.find(id);
            if (info == exchanges_.end() || info->second.at < item.addedAt) {
                continue;
            }
            ++appliedTimes;
            const ExchangeInfo& e = info->second;
            const bool explained = e.fault != sim::FaultKind::None || e.mixed || e.split ||
                                   e.dropped || e.firstDue - e.at >= Ms(kWaitTimeoutMs) ||
                                   e.deliveries == 0;
            unexplained = unexplained || !explained;
        }
        applied_.erase(found);
        if (appliedTimes > 0) {
            ++counts_.appliedButFailed;
            counts_.repeatsApplied += appliedTimes > 1 ? 1 : 0;
            counts_.appliedFailedUnexplained += unexplained ? 1 : 0;
        }
    }

    // Moves the bytes that have arrived on a line into its inbox, each with its exchange.
    void Receive(Line& line) {
        const sim::Bytes due = line.simulator->TakeDue(now_);
        for (std::size_t i = 0; i < due.size(); ++i) {
            while (!line.owners.empty() && line.owners.front().second == 0) {
                line.owners.pop_front();
            }
            std::uint64_t owner = 0;
            if (!line.owners.empty()) {
                owner = line.owners.front().first;
                --line.owners.front().second;
            }
            line.inbox.push_back(due[i]);
            line.inboxOwners.push_back(owner);
        }
        if (!due.empty()) {
            line.lastByte = now_;
        }
    }

    // As the host's port service does before it writes a request: what has arrived and not
    // been handed over cannot answer the new request.
    void DropStaleInput(Line& line) {
        Receive(line);
        counts_.staleBytesDropped += line.inbox.size();
        for (std::uint64_t owner : line.inboxOwners) {
            const auto info = exchanges_.find(owner);
            if (info != exchanges_.end()) {
                info->second.dropped = true;
            }
        }
        line.inbox.clear();
        line.inboxOwners.clear();
    }

    // Hands over what each line has sent once it has been quiet for a while.
    void DeliverQuietLines() {
        for (int p = 0; p < kPorts; ++p) {
            Line& line = lines_[p];
            Receive(line);
            if (line.inbox.empty() || now_ - line.lastByte < Ms(kQuietMs)) {
                continue;
            }
            const std::uint64_t first = line.inboxOwners.front();
            for (std::uint64_t owner : line.inboxOwners) {
                const auto info = exchanges_.find(owner);
                if (info != exchanges_.end()) {
                    info->second.mixed = info->second.mixed || owner != first;
                    info->second.split = info->second.split || info->second.deliveries > 0;
                }
            }
            for (std::uint64_t owner : line.inboxOwners) {
                const auto info = exchanges_.find(owner);
                if (info != exchanges_.end()) {
                    ++info->second.deliveries;
                }
            }
            ++counts_.deliveries;
            Delivery delivery{p, {}};
            for (std::uint64_t owner : line.inboxOwners) {
                if (delivery.owners.empty() || delivery.owners.back() != owner) {
                    delivery.owners.push_back(owner);
                }
            }
            delivering_ = &delivery;
            const sim::Bytes bytes = std::move(line.inbox);
            line.inbox.clear();
            line.inboxOwners.clear();
            receive_->OnReceiveData(static_cast<TComPortNum>(p), bytes.data(),
                                    static_cast<std::int32_t>(bytes.size()));
            delivering_ = nullptr;
        }
    }

    std::uint64_t Outstanding() const {
        std::uint64_t n = 0;
        for (const auto& item : items_) {
            n += item->outstanding && !item->purged ? 1 : 0;
        }
        return n;
    }

    static std::size_t QueueLength() {
        std::size_t n = PortDriver->WaitingTasks().size() + PortDriver->AddedTasks().size();
        for (const TComPort& port : Ports) {
            n += port.Commands.size();
        }
        return n;
    }

    static std::size_t HeapInUse() { return static_cast<std::size_t>(mallinfo2().uordblks); }

    int Report(std::size_t warmHeap, std::size_t peakHeap, std::size_t warmQueue,
               std::size_t maxQueue) {
        const Counts& c = counts_;
        std::printf("simulated time      %.1f s\n", static_cast<double>(ms_) / 1000.0);
        std::printf("exchanges           %" PRIu64 " (deliveries %" PRIu64 ", log lines %" PRIu64
                    ")\n",
                    c.exchanges, c.deliveries, logLines_ + server_.log.size());
        std::printf("tasks               %" PRIu64 ": good %" PRIu64 ", failed %" PRIu64
                    ", purged %" PRIu64 "\n",
                    c.tasks, c.good, c.failed, c.purged);
        std::printf("faults injected     ");
        for (sim::FaultKind kind : sim::kAllFaults) {
            std::printf("%s %" PRIu64 "  ", std::string(sim::FaultName(kind)).c_str(),
                        c.faults[static_cast<int>(kind)]);
        }
        std::printf("\n");
        std::printf("stale replies to an identical request accepted  %" PRIu64
                    " (stale bytes dropped before a request %" PRIu64 ")\n",
                    c.staleSameRequest, c.staleBytesDropped);
        std::printf("writes applied but reported failed (explained)  %" PRIu64
                    ", of them applied twice %" PRIu64 "\n",
                    c.appliedButFailed, c.repeatsApplied);
        std::printf("heap in use after warm-up %zu, peak later %zu; queue peak at warm-up %zu, "
                    "overall %zu\n",
                    warmHeap, peakHeap, warmQueue, maxQueue);
        struct Check {
            const char* name;
            std::uint64_t value;
        };
        // A leak over a long run would be far above these bounds.
        const bool heapFlat = peakHeap <= warmHeap + 1024 * 1024;
        const bool queueFlat = maxQueue <= 2 * warmQueue;
        const Check checks[] = {
            {"completed more than once", c.doubleCompletions},
            {"never completed", c.lost},
            {"good without a reply", c.goodWithoutReply},
            {"good from a reply to another request", c.misattributed},
            {"good read with a wrong value", c.wrongValue},
            {"write reported good, not applied", c.goodNotApplied},
            {"write applied, failure unexplained", c.appliedFailedUnexplained},
            {"references kept", c.leakedReferences},
            {"heap grew after warm-up", heapFlat ? 0u : 1u},
            {"queues grew after warm-up", queueFlat ? 0u : 1u},
        };
        int failures = 0;
        for (const Check& check : checks) {
            std::printf("%-40s %" PRIu64 "\n", check.name, check.value);
            failures += check.value != 0 ? 1 : 0;
        }
        const bool enough = c.exchanges >= target_ && c.good > 0 && c.failed > 0 && c.purged > 0;
        std::printf("%s\n", failures == 0 && enough ? "SOAK PASSED" : "SOAK FAILED");
        return failures == 0 && enough ? 0 : 1;
    }

    struct Delivery {
        int port;
        std::vector<std::uint64_t> owners; // the exchanges whose bytes it holds, in order
    };

    std::uint64_t target_;
    sim::Random random_;
    FakeClock clock_;
    FakeServer server_;
    SimulatedPorts ports_;
    IKibDriver3* driver_ = nullptr;
    IKibReceiveData* receive_ = nullptr;
    Line lines_[kPorts];
    std::vector<std::unique_ptr<HostItem>> items_;
    std::map<std::uint64_t, ExchangeInfo> exchanges_;
    std::map<std::pair<int, sim::Bytes>, std::vector<std::uint64_t>> applied_;
    std::uint64_t exchangeIds_ = 0;
    std::uint64_t logLines_ = 0;
    Counts counts_;
    Delivery* delivering_ = nullptr;
    SimTime now_{0};
    std::uint64_t ms_ = 0;
    bool stopping_ = false;
};

std::uint8_t VX_STDCALL SimulatedPorts::WriteData(TComPortNum port, const void* data,
                                                  std::int32_t size, IKibReceiveData*) {
    return soak_.Written(port, static_cast<const std::uint8_t*>(data), size);
}

} // namespace

int main(int argc, char** argv) {
    const std::uint64_t exchanges = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 20000;
    const std::uint64_t seed = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 1;
    Soak soak(exchanges, seed);
    return soak.Run();
}
