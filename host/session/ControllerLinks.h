// Each controller's link as the driver reports it: read through the driver's diagnostic items
// (one per figure, per node), which the driver answers from its own figures without an
// exchange, and shown under the item table or in `read --once --json`.
#pragma once

#include "contract/Operations.h"
#include "host/session/DriverSession.h"

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vemox::host {

struct ControllerLink {
    const SessionNode* node = nullptr;
    bool read = false;     // the driver answered every figure
    bool portOpen = false; // a device stands behind the controller's port now
    // By LinkFigure: counts and milliseconds; the link as 0 or 1; the last good reply as a
    // UTC date-time (0: none yet).
    std::array<double, kLinkFigureCount> figures{};

    double Figure(LinkFigure figure) const { return figures[static_cast<std::size_t>(figure)]; }
};

class ControllerLinks {
public:
    explicit ControllerLinks(DriverSession& session);

    // Reads every controller's figures; no request reaches a line.
    const std::vector<ControllerLink>& Read();

private:
    struct Probes {
        std::vector<SessionItem*> figures; // by LinkFigure, the reset left out
    };
    DriverSession& session_;
    std::vector<Probes> probes_;
    std::vector<ControllerLink> links_;
};

} // namespace vemox::host
