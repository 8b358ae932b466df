// What the service manager hears from `run`: ready once the first poll cycle ran, a watchdog
// ping from the poll loop itself (a loop that hangs stops pinging and gets the host
// restarted), a status line now and then, and reloads and the stop.
#pragma once

#include "host/line/HostClock.h"
#include "host/session/ServiceManager.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace vemox::host {

class ServiceReport {
public:
    // `manager` may be nullptr: then nothing is told to anybody.
    ServiceReport(std::unique_ptr<ServiceManager> manager, const HostClock& clock);

    bool Listening() const noexcept { return manager_ != nullptr; }
    // After each turn of the poll loop, with the good reads finished in it; `status` is asked
    // for the rest of the status line only when one is due.
    void AfterCycle(std::size_t goodReads, const std::function<std::string()>& status);
    void Reloading();
    // The reload ended, with the new configuration or the old one.
    void Reloaded();
    void Stopping();

private:
    std::unique_ptr<ServiceManager> manager_;
    const HostClock& clock_;
    std::int64_t pingEveryMs_ = 0;
    std::int64_t lastPingMs_ = 0;
    bool ready_ = false;
    std::int64_t windowStartMs_ = 0;
    std::size_t windowGoodReads_ = 0;
};

} // namespace vemox::host
