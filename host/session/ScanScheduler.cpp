#include "host/session/ScanScheduler.h"

#include <algorithm>

namespace vemox::host {

std::size_t ScanScheduler::Add(std::int64_t periodMs, std::int64_t firstDueMs) {
    entries_.push_back({std::max<std::int64_t>(periodMs, 0), firstDueMs});
    return entries_.size() - 1;
}

std::vector<std::size_t> ScanScheduler::TakeDue(std::int64_t nowMs,
                                                const std::function<bool(std::size_t)>& busy) {
    std::vector<std::size_t> due;
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        Entry& entry = entries_[i];
        if (entry.dueMs > nowMs || busy(i)) {
            continue;
        }
        due.push_back(i);
        entry.dueMs += entry.periodMs;
        if (entry.dueMs <= nowMs) {
            entry.dueMs = nowMs + entry.periodMs;
        }
    }
    return due;
}

} // namespace vemox::host
