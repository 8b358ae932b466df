// The reply times of good exchanges, summed up as the smallest, the mean and the largest.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>

namespace vemox::host {

class ReplyTimes {
public:
    void Add(std::int64_t ms) {
        min_ = count_ == 0 ? ms : std::min(min_, ms);
        max_ = count_ == 0 ? ms : std::max(max_, ms);
        total_ += ms;
        ++count_;
    }
    int Count() const noexcept { return count_; }
    std::int64_t Min() const noexcept { return min_; }
    std::int64_t Max() const noexcept { return max_; }
    double Mean() const noexcept {
        return count_ == 0 ? 0.0 : static_cast<double>(total_) / count_;
    }
    // "min 3 ms, avg 4.2 ms, max 9 ms", or in a table column "3/4.2/9".
    std::string Text(bool inWords) const {
        char text[96];
        const auto low = static_cast<long long>(min_);
        const auto high = static_cast<long long>(max_);
        if (inWords) {
            std::snprintf(text, sizeof text, "min %lld ms, avg %.1f ms, max %lld ms", low, Mean(),
                          high);
        } else {
            std::snprintf(text, sizeof text, "%lld/%.1f/%lld", low, Mean(), high);
        }
        return text;
    }

private:
    int count_ = 0;
    std::int64_t min_ = 0;
    std::int64_t max_ = 0;
    std::int64_t total_ = 0;
};

} // namespace vemox::host
