// Which reads have finished since the last look, for what follows every read of `run`: the
// plain lines, the recording and the trend. A read counts once, whatever its outcome.
#pragma once

#include "host/session/DriverSession.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace vemox::host {

class FinishedReads {
public:
    struct Read {
        std::size_t index; // in the session's items
        const SessionItem* item;
        std::optional<std::int64_t> replyMs; // when the read brought a reply
    };
    std::vector<Read> Take(const std::deque<SessionItem>& items);

private:
    std::vector<std::uint32_t> completed_;
    std::vector<std::uint32_t> answered_;
};

inline std::vector<FinishedReads::Read> FinishedReads::Take(const std::deque<SessionItem>& items) {
    completed_.resize(items.size(), 0);
    answered_.resize(items.size(), 0);
    std::vector<Read> reads;
    for (std::size_t i = 0; i < items.size(); ++i) {
        const ExchangeCounts& counts = items[i].host.Counts();
        if (counts.completed == completed_[i]) {
            continue;
        }
        const bool answered = counts.answered != answered_[i];
        reads.push_back(
            {i, &items[i], answered ? std::optional(items[i].replyTimeMs) : std::nullopt});
        completed_[i] = counts.completed;
        answered_[i] = counts.answered;
    }
    return reads;
}

} // namespace vemox::host
