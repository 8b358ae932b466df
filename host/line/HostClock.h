// The host's own sense of time, in milliseconds from an arbitrary start. Scheduling, the
// gap that ends a reply and the wait for results all read it, so tests can run the host in
// simulated time. (The driver reads its own clock inside the library; it cannot be reached
// from here.)
#pragma once

#include <chrono>
#include <cstdint>

namespace vemox::host {

class HostClock {
public:
    virtual ~HostClock() = default;
    virtual std::int64_t NowMs() const = 0;
};

class SteadyClock final : public HostClock {
public:
    std::int64_t NowMs() const override {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }
};

class ManualClock final : public HostClock {
public:
    std::int64_t NowMs() const override { return now_; }
    void Advance(std::int64_t ms) { now_ += ms; }

private:
    std::int64_t now_ = 0;
};

} // namespace vemox::host
