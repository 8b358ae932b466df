// The serial lines of `run`, kept across configuration reloads: a port whose settings did not
// change keeps its open device, so that a reload neither closes it nor loses what is on it.
#pragma once

#include "host/session/DriverSession.h"

#include <memory>
#include <vector>

namespace vemox::host {

class LinePool {
public:
    // `open` makes each new line.
    explicit LinePool(LineOpener open) : open_(std::move(open)) {}

    // What KeepOnly did to the lines.
    struct Changes {
        std::size_t kept = 0;
        std::size_t closed = 0;
    };
    // Closes the lines of ports that `ports` no longer has, or has with other settings. Call
    // it only while no session uses the pool's lines.
    Changes KeepOnly(const std::vector<PortConfig>& ports);
    // For a session: the pool's line of the port, opened first if the pool has none. The pool
    // must outlive the session.
    LineOpener Opener();

private:
    struct Kept {
        PortConfig port;
        std::unique_ptr<SerialLine> line;
    };
    LineOpener open_;
    std::vector<Kept> kept_;
};

} // namespace vemox::host
