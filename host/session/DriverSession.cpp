#include "host/session/DriverSession.h"

#include "host/config/ConfigSets.h"
#include "host/line/ReopeningLine.h"
#include "host/session/WriteLimits.h"
#include "platform/Text.h"

#include <algorithm>
#include <stdexcept>

namespace vemox::host {
namespace {

using GetKibDriver2Function = void(VX_STDCALL*)(IKibDriver3**);

// Keeps a bounded number of turns per cycle even if a line keeps delivering.
constexpr int kMaxDeliveryRounds = 16;

KibShortString& ShortText(KibShortString& target, std::u16string_view text) {
    GetShortString(text, target);
    return target;
}

} // namespace

std::string DeviceOf(const PortConfig& port) {
    return port.device.empty() ? DefaultDeviceFor(port.number) : port.device;
}

std::unique_ptr<SerialLine> OpenConfiguredLine(const PortConfig& port) {
    return OpenSerialLine(DeviceOf(port), port.line);
}

LineOpener ReopeningLines(const HostClock& clock, std::int64_t retryMs, LogSink notices) {
    return [&clock, retryMs, notices](const PortConfig& port) -> std::unique_ptr<SerialLine> {
        return std::make_unique<ReopeningLine>(
            port.name, DeviceOf(port), [port] { return OpenConfiguredLine(port); }, clock, retryMs,
            notices);
    };
}

DriverSession::DriverSession(HostConfig config, const std::string& driverPath,
                             const HostClock& clock, LogSink log, const LineOpener& openLine)
    : config_(std::move(config)), clock_(clock), server_(std::move(log), config_.driverSettings),
      ports_(clock, config_.timing.replyGapMs) {
    for (const PortConfig& port : config_.ports) {
        ports_.Attach(static_cast<TComPortNum>(port.number), openLine(port));
    }
    for (const NodeConfig& node : config_.nodes) {
        nodes_.push_back({node, NodePropertiesOf(node)});
    }
    for (const ItemConfig& item : config_.items) {
        SessionItem& entry = items_.emplace_back(item);
        for (SessionNode& node : nodes_) {
            if (node.config.name == item.node) {
                entry.node = &node;
            }
        }
        entry.properties = ItemPropertiesOf(item, entry.node->config, entry.node->properties.get());
        const std::int32_t seconds = item.scanSeconds.value_or(entry.node->config.scanSeconds);
        scheduler_.Add(static_cast<std::int64_t>(seconds) * 1000, clock_.NowMs());
    }

    library_ = LoadSharedLibrary(driverPath);
    const auto entry = reinterpret_cast<GetKibDriver2Function>(library_->Symbol("GetKibDriver2"));
    if (!entry) {
        throw std::runtime_error(driverPath + ": exports no GetKibDriver2");
    }
    entry(&driver_);
    if (!driver_) {
        throw std::runtime_error(driverPath + ": GetKibDriver2 handed out no driver");
    }
    KibShortString name{};
    KibShortString description{};
    KibShortString help{};
    driver_->Initial(&server_, &ports_, &name, &description, &help, &receiver_);
    if (!receiver_) {
        throw std::runtime_error(driverPath + ": the driver offers no receiver for replies");
    }
    for (const auto& [key, value] : config_.driverSettings) {
        KibShortString keyText;
        KibShortString valueText;
        driver_->LoadConfig(ShortText(keyText, key), ShortText(valueText, value));
    }
    std::int32_t watchdog = 0;
    driver_->GetWatchdogTimeout(nullptr, nullptr, &watchdog);
    watchdogMs_ = watchdog;
}

DriverSession::~DriverSession() {
    if (driver_) {
        // Tasks still queued hold references to our items: drop them before the items go,
        // then let the driver let go of the server and the port service.
        driver_->PurgeActions();
        driver_->Deinitial();
        if (receiver_) {
            receiver_->Release();
        }
    }
    library_.reset();
}

SessionItem* DriverSession::FindItem(const std::string& name) {
    SessionItem* byShortName = nullptr;
    int shortMatches = 0;
    for (SessionItem& item : items_) {
        if (item.config.FullName() == name) {
            return &item;
        }
        if (item.config.name == name) {
            byShortName = &item;
            ++shortMatches;
        }
    }
    return shortMatches == 1 ? byShortName : nullptr;
}

std::vector<std::string> DriverSession::FullNamesOf(const std::string& name) const {
    std::vector<std::string> names;
    for (const SessionItem& item : items_) {
        if (item.config.name == name) {
            names.push_back(item.config.FullName());
        }
    }
    return names;
}

void DriverSession::Issue(SessionItem& item, TTask kind, OPCITEMSTATE& state) {
    TTaskDef task{};
    GetShortString(platform::Utf8ToUtf16(item.config.FullName()), task.ItemID);
    task.Task = kind;
    task.Item = &item.host;
    task.TransactID = item.host.BeginTask();
    task.ptrItemState = &state;
    task.ptrNodeProperties = item.node->properties.get();
    task.ptrItemProperties = item.properties.get();
    task.ptrReturnState = &state;
    task.ptrResult = item.host.ResultSlot();
    driver_->AddTask(task);
}

void DriverSession::Read(const std::vector<SessionItem*>& items) {
    bool added = false;
    for (SessionItem* item : items) {
        if (!item->host.Busy()) {
            Issue(*item, tAsyncRead, item->host.State());
            added = true;
        }
    }
    if (added) {
        driver_->RunTasks(0);
    }
}

bool DriverSession::Write(SessionItem& item, const platform::Variant& value) {
    if (item.host.Busy()) {
        return false;
    }
    OPCITEMSTATE& state = item.host.WriteState();
    platform::VariantCopyFrom(state.vDataValue, value.get());
    Issue(item, tAsyncWrite, state);
    driver_->RunTasks(0);
    return true;
}

SessionItem& DriverSession::AddProbe(SessionNode& node, const ItemConfig& config) {
    SessionItem& probe = probes_.emplace_back(config);
    probe.node = &node;
    probe.properties = ItemPropertiesOf(config, node.config, node.properties.get());
    return probe;
}

std::optional<std::uint8_t>
DriverSession::ReadWeightStatus(SessionNode& node, std::int64_t deadlineMs, const RunHooks& hooks) {
    ItemConfig config;
    config.node = node.config.name;
    config.name = "net weight for the decimal places";
    config.operation = &OperationAt(static_cast<int>(Operation::NetWeight));
    SessionItem& probe = AddProbe(node, config);

    // The driver keeps the status byte to itself; the host sees the reply on its way there.
    const auto port = static_cast<TComPortNum>(node.config.portNumber);
    const Addressing addressing = ReadAddressing(node.properties.get());
    const bool withCrc = config_.ChecksumOn();
    std::optional<std::uint8_t> status;
    // The tap holds this call's locals: it goes with them, however the call ends.
    struct TapRemover {
        ComPortService& ports;
        ~TapRemover() { ports.SetDeliveryTap({}); }
    } const removeTap{ports_};
    ports_.SetDeliveryTap([&](TComPortNum from, const std::vector<std::uint8_t>& bytes) {
        if (from != port) {
            return;
        }
        if (const auto found = NetWeightStatus(bytes, addressing, withCrc)) {
            status = found;
        }
    });
    Read({&probe});
    RunUntil([&] { return !probe.host.Busy(); }, deadlineMs, false, hooks);
    const bool good = !probe.host.Busy() && probe.host.LastResult() == S_OK;
    return good ? status : std::nullopt;
}

void DriverSession::Scan() {
    // Write-only items are never due: their read would only bring a constant.
    const auto due = scheduler_.TakeDue(clock_.NowMs(), [this](std::size_t i) {
        return items_[i].host.Busy() || items_[i].config.WriteOnly();
    });
    std::vector<SessionItem*> batch;
    batch.reserve(due.size());
    for (const std::size_t i : due) {
        batch.push_back(&items_[i]);
    }
    Read(batch);
}

void DriverSession::NoteReplyTimes() {
    for (SessionItem& item : items_) {
        const std::uint32_t answers = item.host.Counts().answered;
        if (answers == item.seenAnswers) {
            continue;
        }
        item.seenAnswers = answers;
        const PortStatistics* stats =
            ports_.Statistics(static_cast<TComPortNum>(item.node->config.portNumber));
        if (stats && stats->lastWriteMs >= 0 && stats->lastReplyMs >= stats->lastWriteMs) {
            item.replyTimeMs = stats->lastReplyMs - stats->lastWriteMs;
        }
    }
}

void DriverSession::Cycle() {
    driver_->Execute();
    DeliverAndExecute(false);
}

void DriverSession::DeliverAndExecute(bool scanning) {
    for (int round = 0; round < kMaxDeliveryRounds && ports_.DeliverReplies() > 0; ++round) {
        NoteReplyTimes();
        if (scanning) {
            Scan(); // an item read at scan rate 0 is due again the moment its reply is in
        }
        driver_->Execute();
    }
}

bool DriverSession::AllIdle() const {
    for (const SessionItem& item : items_) {
        if (item.host.Busy()) {
            return false;
        }
    }
    return true;
}

RunEnd DriverSession::RunUntil(const std::function<bool()>& done, std::int64_t deadlineMs,
                               bool scanning, const RunHooks& hooks) {
    std::int64_t nextPeriodMs = clock_.NowMs();
    for (;;) {
        if (clock_.NowMs() >= nextPeriodMs) {
            nextPeriodMs = clock_.NowMs() + config_.timing.executePeriodMs;
            if (scanning) {
                Scan();
            }
            driver_->Execute();
        }
        DeliverAndExecute(scanning); // replies gathered by the period's turn or the wait
        if (hooks.afterCycle) {
            hooks.afterCycle();
        }
        if (done && done()) {
            return RunEnd::Done;
        }
        if (hooks.interrupted && hooks.interrupted()) {
            return RunEnd::Interrupted;
        }
        if (clock_.NowMs() >= deadlineMs) {
            return RunEnd::Deadline;
        }
        // Wait for the line until the next period, or until a reply cut short by silence is
        // complete; leave the wait as soon as a whole reply is in.
        for (;;) {
            const std::int64_t wakeMs =
                std::min(nextPeriodMs, ports_.NextGapEndMs().value_or(nextPeriodMs));
            const std::int64_t leftMs = wakeMs - clock_.NowMs();
            if (leftMs > 0) {
                if (hooks.wait) {
                    hooks.wait(leftMs);
                } else {
                    ports_.WaitForInput(leftMs);
                }
            }
            if (ports_.Gather() || clock_.NowMs() >= wakeMs) {
                break;
            }
        }
    }
}

} // namespace vemox::host
