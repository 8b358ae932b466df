// When each item is read next. An item is read at its scan rate; while its last read is
// still under way it is not read again (no pile-up of tasks behind a silent controller),
// and one that fell behind resumes its rhythm from now instead of catching up in a burst.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

namespace vemox::host {

class ScanScheduler {
public:
    // periodMs 0: read again as soon as the last read is done. Answers the entry's index.
    std::size_t Add(std::int64_t periodMs, std::int64_t firstDueMs);

    // The entries due at `nowMs` that are not busy; each is given its next due time.
    std::vector<std::size_t> TakeDue(std::int64_t nowMs,
                                     const std::function<bool(std::size_t)>& busy);

private:
    struct Entry {
        std::int64_t periodMs;
        std::int64_t dueMs;
    };
    std::vector<Entry> entries_;
};

} // namespace vemox::host
