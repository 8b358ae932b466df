// The line rates a POSIX terminal can be set to, as the numbers an operator gives and the
// speed codes termios takes. Header-only so that the simulator, which links nothing of the
// driver, reads the same table as the host's serial line.
#pragma once

#include <cstdint>
#include <termios.h>

namespace vemox::platform {

struct TermiosRate {
    std::uint32_t baud;
    speed_t speed;
};

inline constexpr TermiosRate kTermiosRates[] = {
    {1200, B1200},   {2400, B2400},   {4800, B4800},     {9600, B9600},    {19200, B19200},
    {38400, B38400}, {57600, B57600}, {115200, B115200}, {230400, B230400}};

// B0 (hang up) when the terminal has no such rate.
inline speed_t SpeedOfBaud(std::uint32_t baud) noexcept {
    for (const TermiosRate& rate : kTermiosRates) {
        if (rate.baud == baud) {
            return rate.speed;
        }
    }
    return B0;
}

// 0 when the speed code is none of the table's.
inline std::uint32_t BaudOfSpeed(speed_t speed) noexcept {
    for (const TermiosRate& rate : kTermiosRates) {
        if (rate.speed == speed) {
            return rate.baud;
        }
    }
    return 0;
}

} // namespace vemox::platform
