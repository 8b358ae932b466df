// The poll cycle: one run per host Execute call.
#pragma once

namespace vemox {

class TComPortDriver;

class TKibProcess {
public:
    // One cycle over every known port for the given driver; never lets a failure escape.
    void OnTimer(TComPortDriver& driver) noexcept;
};

} // namespace vemox
