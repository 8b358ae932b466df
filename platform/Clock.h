// The driver's only source of "now", replaceable so that tests stand at any instant.
#pragma once

#include "platform/Types.h"

namespace vemox::platform {

class ClockSource {
public:
    virtual ~ClockSource() = default;
    virtual double LocalNow() const = 0; // local date-time, millisecond resolution
    virtual FILETIME UtcNow() const = 0; // UTC file time
};

double LocalNow();
FILETIME UtcNow();

// Installs a replacement clock; nullptr restores the system clock.
void SetClockSource(const ClockSource* clock) noexcept;

// Local file time to UTC with the operating system's current time-zone rules.
FILETIME LocalToUtc(const FILETIME& local);

} // namespace vemox::platform
