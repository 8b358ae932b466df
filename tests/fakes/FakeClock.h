// A clock that stands still until the test moves it, so time-outs and pacing can be checked
// at any millisecond without waiting.
#pragma once

#include "platform/Clock.h"
#include "platform/DateTime.h"

#include <cstdint>

namespace vemox::testing {

class FakeClock final : public platform::ClockSource {
public:
    // Starts at the given local time; UTC is taken as three hours behind, as the host's
    // time stamps come from a clock of their own.
    explicit FakeClock(const platform::CivilTime& start)
        : local_(platform::JoinDateTime(start)),
          utcTicks_(platform::CivilToFileTimeTicks(start) - kTicksPerMs * 3 * 3600 * 1000) {
        platform::SetClockSource(this);
    }
    ~FakeClock() override { platform::SetClockSource(nullptr); }
    FakeClock(const FakeClock&) = delete;
    FakeClock& operator=(const FakeClock&) = delete;

    double LocalNow() const override { return local_; }
    FILETIME UtcNow() const override { return platform::MakeFileTime(utcTicks_); }

    void Advance(std::int64_t ms) {
        const platform::CivilTime now = platform::SplitDateTime(local_);
        local_ = platform::JoinDateTime(
            platform::FileTimeTicksToCivil(platform::CivilToFileTimeTicks(now) + ms * kTicksPerMs));
        utcTicks_ += ms * kTicksPerMs;
    }

private:
    static constexpr std::int64_t kTicksPerMs = 10000;
    double local_;
    std::int64_t utcTicks_;
};

} // namespace vemox::testing
