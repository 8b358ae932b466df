#include "sim/Frame.h"

namespace vemox::sim {

namespace {
constexpr std::uint8_t kMarker = 0xFF;
constexpr std::uint8_t kStuff = 0xFE;
} // namespace

Bytes WrapFrame(const Bytes& body) {
    Bytes frame;
    frame.reserve(body.size() * 2 + 3);
    frame.push_back(kMarker);
    for (const auto byte : body) {
        frame.push_back(byte);
        if (byte == kMarker) {
            frame.push_back(kStuff);
        }
    }
    frame.push_back(kMarker);
    frame.push_back(kMarker);
    return frame;
}

std::optional<Bytes> FrameParser::Feed(std::uint8_t byte) {
    switch (state_) {
    case State::Idle:
        if (byte == kMarker) {
            body_.clear();
            state_ = State::Body;
        }
        return std::nullopt;
    case State::Body:
        if (byte != kMarker) {
            body_.push_back(byte);
        } else if (!body_.empty()) {
            state_ = State::BodyAfterFF;
        }
        // A marker before any body byte is one more start marker.
        break;
    case State::BodyAfterFF:
        if (byte == kStuff) {
            body_.push_back(kMarker);
            state_ = State::Body;
        } else if (byte == kMarker) {
            state_ = State::Idle;
            return std::move(body_);
        } else {
            // A lone 0xFF cannot occur inside a body: it starts a new frame, so a request
            // cut short by a failed write does not swallow the next one.
            body_.assign(1, byte);
            state_ = State::Body;
        }
        break;
    }
    if (body_.size() > kMaxBody) {
        body_.clear();
        state_ = State::Idle;
    }
    return std::nullopt;
}

std::vector<Bytes> FrameParser::Feed(const std::uint8_t* data, std::size_t size) {
    std::vector<Bytes> bodies;
    for (std::size_t i = 0; i < size; ++i) {
        if (auto body = Feed(data[i])) {
            bodies.push_back(std::move(*body));
        }
    }
    return bodies;
}

} // namespace vemox::sim
