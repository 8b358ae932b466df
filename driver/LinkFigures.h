// The figures of a controller's link: how the exchange paths record them, and how a diagnostic
// item reads them.
#pragma once

#include "contract/Operations.h"
#include "driver/Registry.h"

#include <cstdint>

namespace vemox {

// A reply judged good at `now`, to a request written at `sent` (local date-times).
void CountGoodReply(TLinkFigures& link, double now, double sent) noexcept;
// A request that failed for good: the driver no longer tries to reach the controller.
void CountLinkDown(TLinkFigures& link, bool unanswered) noexcept;

// The figure as the item carries it: a Boolean, a date, or a count or time as a double (64-bit
// counts stay exact far beyond any uptime).
void ReadLinkFigure(const TLinkFigures& link, LinkFigure figure, VARIANT& out);

} // namespace vemox
