// The floating-point state a host may leave on the thread that calls the driver, and a scope
// that plays such a host around the driver's calls.
#pragma once

#include "platform/FloatEnvironment.h"

namespace vemox::testing {

struct HostFloatCase {
    const char* name;
    platform::FloatControl control;
};

// What the usual runtimes start their threads with, and what some hosts set.
inline constexpr HostFloatCase kHostFloatStates[] = {
    {"x87 at double precision", {0x027F, 0x1F80}},
    {"x87 at extended precision", {0x037F, 0x1F80}},
    {"x87 invalid, zero-divide and overflow unmasked", {0x1332, 0x1F80}},
    {"MXCSR invalid, zero-divide and overflow unmasked", {0x027F, 0x1900}},
};

class AsHost {
public:
    explicit AsHost(platform::FloatControl control) : own_(platform::CurrentFloatControl()) {
        platform::SetFloatControl(control);
        host_ = platform::CurrentFloatControl(); // as the processor reports it back
    }
    ~AsHost() { platform::SetFloatControl(own_); }
    AsHost(const AsHost&) = delete;
    AsHost& operator=(const AsHost&) = delete;

    // Whether the host's control words are as it set them (exception flags aside).
    bool Kept() const {
        constexpr std::uint32_t kFlags = 0x3F;
        const platform::FloatControl now = platform::CurrentFloatControl();
        return now.x87 == host_.x87 && (now.mxcsr & ~kFlags) == (host_.mxcsr & ~kFlags);
    }

private:
    platform::FloatControl own_;
    platform::FloatControl host_;
};

} // namespace vemox::testing
