#include "host/line/ReplyAssembler.h"

#include <algorithm>

namespace vemox::host {
namespace {

constexpr std::uint8_t kMarker = 0xFF;
constexpr std::uint8_t kStuffing = 0xFE;

// Length of the first complete frame in `bytes` (through its end marker), or 0. Leading
// markers and stuffing bytes belong to the frame's start; inside a stuffed body FF FF never
// occurs, so the first such pair after the body has begun ends the frame.
std::size_t CompleteFrameLength(const std::vector<std::uint8_t>& bytes) {
    std::size_t i = 0;
    while (i < bytes.size() && (bytes[i] == kMarker || bytes[i] == kStuffing)) {
        ++i;
    }
    for (; i + 1 < bytes.size(); ++i) {
        if (bytes[i] == kMarker && bytes[i + 1] == kMarker) {
            return i + 2;
        }
    }
    return 0;
}

} // namespace

void ReplyAssembler::Feed(const std::uint8_t* data, std::size_t size, std::int64_t nowMs) {
    if (size == 0) {
        return;
    }
    bytes_.insert(bytes_.end(), data, data + size);
    lastByteMs_ = nowMs;
}

std::optional<std::vector<std::uint8_t>> ReplyAssembler::Take(std::int64_t nowMs) {
    if (bytes_.empty()) {
        return std::nullopt;
    }
    std::size_t length = CompleteFrameLength(bytes_);
    if (length == 0 && nowMs - lastByteMs_ >= gapMs_) {
        length = bytes_.size();
    }
    if (length == 0) {
        return std::nullopt;
    }
    std::vector<std::uint8_t> reply(bytes_.begin(),
                                    bytes_.begin() + static_cast<std::ptrdiff_t>(length));
    bytes_.erase(bytes_.begin(), bytes_.begin() + static_cast<std::ptrdiff_t>(length));
    return reply;
}

} // namespace vemox::host
