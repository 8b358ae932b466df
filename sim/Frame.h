// Frames on the line: start marker 0xFF, the body with every 0xFF followed by a stuffed 0xFE,
// end marker 0xFF 0xFF. The parser works on a byte stream, so a request may arrive in any
// number of reads and junk between frames is skipped.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace vemox::sim {

using Bytes = std::vector<std::uint8_t>;

// Start marker, stuffed body, end marker.
Bytes WrapFrame(const Bytes& body);

class FrameParser {
public:
    // No request body is anywhere near this long; a longer run is noise, not a frame.
    static constexpr std::size_t kMaxBody = 32;

    // Feeds one byte; answers the unstuffed body when the byte completes a frame.
    std::optional<Bytes> Feed(std::uint8_t byte);

    // Feeds a block; answers every body completed in it, in order.
    std::vector<Bytes> Feed(const std::uint8_t* data, std::size_t size);

    bool InFrame() const { return state_ != State::Idle; }

private:
    enum class State { Idle, Body, BodyAfterFF };

    State state_ = State::Idle;
    Bytes body_;
};

} // namespace vemox::sim
