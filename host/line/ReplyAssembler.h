// Gathers the bytes a line delivers into whole replies. The driver judges every delivery
// as one complete reply, so handing it half a frame would turn a good answer into a
// checksum error. A reply is complete at the end marker FF FF that follows the start of
// its body, or, for replies that never bring one (junk, a cut frame), when the line has
// been quiet for the inter-byte gap.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace vemox::host {

class ReplyAssembler {
public:
    explicit ReplyAssembler(std::int64_t gapMs) : gapMs_(gapMs) {}

    // Adds bytes that arrived at `nowMs`.
    void Feed(const std::uint8_t* data, std::size_t size, std::int64_t nowMs);
    // The next whole reply, if one is complete at `nowMs`.
    std::optional<std::vector<std::uint8_t>> Take(std::int64_t nowMs);

    bool Pending() const noexcept { return !bytes_.empty(); }
    // When the bytes held now make a reply by the gap alone, if any are held.
    std::optional<std::int64_t> GapEndsAtMs() const {
        return bytes_.empty() ? std::nullopt : std::optional<std::int64_t>(lastByteMs_ + gapMs_);
    }
    void Clear() noexcept { bytes_.clear(); }

private:
    std::int64_t gapMs_;
    std::int64_t lastByteMs_ = 0;
    std::vector<std::uint8_t> bytes_;
};

} // namespace vemox::host
