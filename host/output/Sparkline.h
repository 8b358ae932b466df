// A glance at where each numeric value is heading in the live table of `run`: its last good
// values as a sparkline, lowest to highest of the window drawn as the eight block heights.
#pragma once

#include "host/session/FinishedReads.h"

#include <deque>
#include <string>
#include <vector>

namespace vemox::host {

constexpr std::size_t kTrendLength = 30;

// "▁▃▅█" for 1 2 3 4; a flat run sits at mid height. Empty for no values.
std::string Sparkline(const std::deque<double>& values);

class Trends {
public:
    // Adds the read's value when it was good and the item's value is a number.
    void Add(const FinishedReads::Read& read);
    // The sparkline of every item, in the session's order ("" for items without one).
    std::vector<std::string> Texts(std::size_t items) const;

private:
    std::vector<std::deque<double>> values_;
};

} // namespace vemox::host
