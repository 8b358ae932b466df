// What passes through the host's serial-port service, as the host sees it: each request as it
// is written, each delivery just before the driver gets it, and each release of a port. A
// release that follows a write with no delivery for it is the driver giving up on the reply.
// An observer only watches: what it throws is dropped before it could reach the driver.
#pragma once

#include "contract/PluginInterface.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vemox::host {

class LineObserver {
public:
    virtual ~LineObserver() = default;
    // `accepted` is false for a write the port refused (no device, not the holder).
    virtual void Written(TComPortNum port, const std::uint8_t* data, std::size_t size,
                         bool accepted, std::int64_t nowMs) = 0;
    virtual void Delivered(TComPortNum port, const std::vector<std::uint8_t>& bytes,
                           std::int64_t nowMs) = 0;
    virtual void Released(TComPortNum port, std::int64_t nowMs) = 0;
};

} // namespace vemox::host
