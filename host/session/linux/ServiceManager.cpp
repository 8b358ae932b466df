// The manager's notification socket, through the system's own library.
#include "host/session/ServiceManager.h"

#include <cstdlib>
#include <systemd/sd-daemon.h>

namespace vemox::host {
namespace {

constexpr std::uint64_t kMicrosecondsPerMs = 1000;

class NotifySocket final : public ServiceManager {
public:
    void Notify(const std::string& state) override { sd_notify(0, state.c_str()); }

    std::int64_t WatchdogMs() const override {
        std::uint64_t usec = 0;
        if (sd_watchdog_enabled(0, &usec) <= 0) {
            return 0;
        }
        return static_cast<std::int64_t>(usec / kMicrosecondsPerMs);
    }
};

} // namespace

std::unique_ptr<ServiceManager> ConnectServiceManager() {
    const char* socket = std::getenv("NOTIFY_SOCKET");
    if (!socket || !*socket) {
        return nullptr;
    }
    return std::make_unique<NotifySocket>();
}

} // namespace vemox::host
