// The poll cycle: one run per host Execute call.
#pragma once

#include <cstdint>

namespace vemox {

class TComPortDriver;

class TKibProcess {
public:
    // One cycle over every known port for the given driver; never lets a failure escape.
    void OnTimer(TComPortDriver& driver) noexcept;
};

// Whole milliseconds between two local date-times, whichever is later.
std::int64_t ElapsedMs(double now, double then) noexcept;

} // namespace vemox
