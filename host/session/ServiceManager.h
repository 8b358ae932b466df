// The service manager that started the host, when one listens: it hears when the host is
// ready, that its poll loop still turns, when it reloads or stops, and a line of status.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace vemox::host {

class ServiceManager {
public:
    virtual ~ServiceManager() = default;
    // One or more "KEY=value" lines of the manager's notification protocol.
    virtual void Notify(const std::string& state) = 0;
    // How often the manager wants to hear that the host is alive; 0 when it does not watch.
    virtual std::int64_t WatchdogMs() const = 0;
};

// nullptr when no manager listens, so that a host started by hand behaves as before.
std::unique_ptr<ServiceManager> ConnectServiceManager();

} // namespace vemox::host
