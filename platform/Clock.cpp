#include "platform/Clock.h"

namespace vemox::platform {

double SystemLocalNow();
FILETIME SystemUtcNow();

namespace {
const ClockSource* gClock = nullptr;
} // namespace

double LocalNow() {
    return gClock ? gClock->LocalNow() : SystemLocalNow();
}

FILETIME UtcNow() {
    return gClock ? gClock->UtcNow() : SystemUtcNow();
}

void SetClockSource(const ClockSource* clock) noexcept {
    gClock = clock;
}

} // namespace vemox::platform
