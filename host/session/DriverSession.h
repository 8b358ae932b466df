// One run of the driver under the reference host: the library loaded by path and reached
// only through GetKibDriver2, connected with Initial and the configured settings pairs,
// the configured nodes and items with their property sets, and the host's side of the
// poll cycle: tasks batched per tick, Execute, replies delivered between driver calls.
#pragma once

#include "config/PropertySet.h"
#include "host/config/HostConfig.h"
#include "host/line/ComPortService.h"
#include "host/session/HostItem.h"
#include "host/session/HostServer.h"
#include "host/session/ScanScheduler.h"
#include "host/session/SharedLibrary.h"
#include "platform/Com.h"

#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace vemox::host {

using LineOpener = std::function<std::unique_ptr<SerialLine>(const PortConfig&)>;
// What is opened for the port: the configured device, or the system's device for its name.
std::string DeviceOf(const PortConfig& port);
// Opens the configured device, or the system's device for the port name; throws when it
// cannot.
std::unique_ptr<SerialLine> OpenConfiguredLine(const PortConfig& port);
// Lines that outlive their devices: a device that is missing or fails is opened again every
// `retryMs`, and each change is told to `notices`.
LineOpener ReopeningLines(const HostClock& clock, std::int64_t retryMs, LogSink notices);

struct SessionNode {
    NodeConfig config;
    PropertySet properties;
};

struct SessionItem {
    explicit SessionItem(const ItemConfig& itemConfig)
        : config(itemConfig), host(itemConfig.FullName()) {}
    ItemConfig config;
    HostItem host;
    PropertySet properties;
    SessionNode* node = nullptr;
    std::int64_t replyTimeMs = -1; // request to reply, of the last answered exchange
    std::uint32_t seenAnswers = 0;
};

enum class RunEnd { Done, Deadline, Interrupted };

struct RunHooks {
    // Waits at most `ms` for bytes on the granted lines; when empty the session waits on
    // its real lines. Simulated time plugs in here to jump to the next byte due.
    std::function<void(std::int64_t ms)> wait;
    std::function<bool()> interrupted; // the operator asked to stop
    std::function<void()> afterCycle;  // e.g. redraw the table
};

class DriverSession {
public:
    // Throws std::runtime_error (library, line) or ConfigError before the driver is used.
    DriverSession(HostConfig config, const std::string& driverPath, const HostClock& clock,
                  LogSink log, const LineOpener& openLine = OpenConfiguredLine);
    DriverSession(const DriverSession&) = delete;
    DriverSession& operator=(const DriverSession&) = delete;
    ~DriverSession();

    // Reads every item at its scan rate: call once per tick.
    void Scan();
    // Hands the driver read tasks for the given items in one batch (busy ones are skipped).
    void Read(const std::vector<SessionItem*>& items);
    // Hands the driver one write task; false when the item is busy.
    bool Write(SessionItem& item, const platform::Variant& value);
    // The status byte of the node's weight (decimal places in bits 0..2), from a net weight
    // read through the driver, as a configured item would make it; nothing when no good
    // reply came by the deadline.
    std::optional<std::uint8_t> ReadWeightStatus(SessionNode& node, std::int64_t deadlineMs,
                                                 const RunHooks& hooks);
    // One turn of the poll cycle: Execute, then the gathered replies, and Execute again at
    // once after a delivery so the next request goes out without waiting a period.
    void Cycle();
    // Cycles every execute period (reading at scan rates when `scanning`), and in between
    // waits on the lines and delivers each reply the moment it is complete, with Execute at
    // once after it; until `done` answers true, the deadline passes or the operator
    // interrupts.
    RunEnd RunUntil(const std::function<bool()>& done, std::int64_t deadlineMs, bool scanning,
                    const RunHooks& hooks);
    bool AllIdle() const;

    std::deque<SessionItem>& Items() noexcept { return items_; }
    std::deque<SessionNode>& Nodes() noexcept { return nodes_; }
    // An item the host reads for itself, beside the configured ones; it lives as long as the
    // session, since the driver may hold its task until then.
    SessionItem& AddProbe(SessionNode& node, const ItemConfig& config);
    // By its full name, or by its own name when no other node has an item so named.
    SessionItem* FindItem(const std::string& name);
    // The full names of the items of that own name, e.g. for "output0" on two nodes.
    std::vector<std::string> FullNamesOf(const std::string& name) const;
    const HostConfig& Config() const noexcept { return config_; }
    std::int64_t WatchdogMs() const noexcept { return watchdogMs_; }
    const ComPortService& Ports() const noexcept { return ports_; }
    // Shows every request, reply and release on the lines to `observer` (nullptr: to nobody).
    void ObserveLines(LineObserver* observer) noexcept { ports_.SetObserver(observer); }

private:
    void Issue(SessionItem& item, TTask kind, OPCITEMSTATE& state);
    void NoteReplyTimes();
    void DeliverAndExecute(bool scanning);

    HostConfig config_;
    const HostClock& clock_;
    HostServer server_;
    ComPortService ports_;
    std::deque<SessionNode> nodes_;
    std::deque<SessionItem> items_;
    std::deque<SessionItem> probes_; // items the host reads for itself, kept while the driver may
    ScanScheduler scheduler_;
    std::int64_t watchdogMs_ = 0;
    std::unique_ptr<SharedLibrary> library_;
    IKibDriver3* driver_ = nullptr;
    IKibReceiveData* receiver_ = nullptr;
};

} // namespace vemox::host
