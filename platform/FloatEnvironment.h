// The thread's floating-point state at the driver's entry points. The host owns the thread:
// it may have left any x87 precision or rounding, or exceptions unmasked, as several runtimes
// do. Inside the driver every value must come out the same bits whatever the host left, and
// no operation may trap, so each entry point holds a DriverFloatScope.
#pragma once

#include <cstdint>

namespace vemox::platform {

// The control half of the state: the x87 control word and the SSE control/status register
// (both 0 on processors that have neither).
struct FloatControl {
    std::uint16_t x87 = 0;
    std::uint32_t mxcsr = 0;
};

// What the driver computes under: every exception masked, round to nearest, x87 at double
// precision, no flushing of tiny values to zero.
constexpr FloatControl kDriverFloatControl{0x027F, 0x1F80};

FloatControl CurrentFloatControl() noexcept;
// Sets both control words and clears pending exception flags, as a host starting a thread does.
void SetFloatControl(FloatControl control) noexcept;

// Saves the host's whole floating-point state (flags included), sets kDriverFloatControl, and
// gives the host back exactly what it had when the scope ends.
class DriverFloatScope {
public:
    DriverFloatScope() noexcept;
    ~DriverFloatScope();
    DriverFloatScope(const DriverFloatScope&) = delete;
    DriverFloatScope& operator=(const DriverFloatScope&) = delete;

private:
    std::uint32_t x87Environment_[7]; // control, status, tags, last instruction and operand
    std::uint32_t mxcsr_;
};

} // namespace vemox::platform
