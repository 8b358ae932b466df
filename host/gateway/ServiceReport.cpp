#include "host/gateway/ServiceReport.h"

#include <algorithm>

namespace vemox::host {
namespace {

// The reads are counted over this long before the status line shows them per minute.
constexpr std::int64_t kStatusWindowMs = 10000;
constexpr std::int64_t kMsPerMinute = 60000;

} // namespace

ServiceReport::ServiceReport(std::unique_ptr<ServiceManager> manager, const HostClock& clock)
    : manager_(std::move(manager)), clock_(clock) {
    if (manager_) {
        // Twice per interval, so that one slow turn of the loop does not cost the host.
        pingEveryMs_ = manager_->WatchdogMs() / 2;
        windowStartMs_ = clock_.NowMs();
    }
}

void ServiceReport::AfterCycle(std::size_t goodReads, const std::function<std::string()>& status) {
    if (!manager_) {
        return;
    }
    const std::int64_t now = clock_.NowMs();
    std::string state;
    if (pingEveryMs_ > 0 && now - lastPingMs_ >= pingEveryMs_) {
        lastPingMs_ = now;
        state += "WATCHDOG=1\n";
    }
    windowGoodReads_ += goodReads;
    if (!ready_) {
        ready_ = true;
        state += "READY=1\nSTATUS=" + status() + "\n";
    } else if (now - windowStartMs_ >= kStatusWindowMs) {
        const std::int64_t spanMs = std::max<std::int64_t>(now - windowStartMs_, 1);
        const auto perMinute = static_cast<std::int64_t>(windowGoodReads_) * kMsPerMinute / spanMs;
        state += "STATUS=" + std::to_string(perMinute) + " good reads/min, " + status() + "\n";
        windowStartMs_ = now;
        windowGoodReads_ = 0;
    }
    if (!state.empty()) {
        manager_->Notify(state);
    }
}

void ServiceReport::Reloading() {
    if (manager_) {
        manager_->Notify("RELOADING=1\nSTATUS=reloading the configuration");
    }
}

void ServiceReport::Reloaded() {
    if (manager_) {
        manager_->Notify("READY=1");
    }
}

void ServiceReport::Stopping() {
    if (manager_) {
        manager_->Notify("STOPPING=1\nSTATUS=stopping");
    }
}

} // namespace vemox::host
