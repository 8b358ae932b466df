#include "protocol/Reply.h"

#include "protocol/Codec.h"

#include <algorithm>

namespace vemox {

namespace {

// Bases of the body length rule: the command byte and its data.
constexpr std::uint8_t kBaseAck = 1;
constexpr std::uint8_t kBaseOneMask = 2;
constexpr std::uint8_t kBaseTwoMasks = 3;
constexpr std::uint8_t kBaseWeight = 5;
constexpr std::uint8_t kBaseCounter = 7;
constexpr std::uint8_t kBaseWeightPoint = 8;
constexpr std::uint8_t kBaseState = 2;
constexpr std::uint8_t kBaseDosingAck = 2;

constexpr std::int32_t kHighestMaskBit = 15;
constexpr std::int32_t kHighestStateBit = 7;
constexpr std::int32_t kBitsPerByte = 8;

// 10^d for every decimal count the status byte can carry.
constexpr double kPowersOfTen[kDecimalsMask + 1] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7};

std::int32_t Length(std::uint8_t addressSize, bool withCrc, std::uint8_t base) noexcept {
    return LengthQuery(addressSize == kNetworkAddressSize, withCrc, base);
}

std::int32_t Bit(std::uint32_t value, std::int32_t bit) noexcept {
    return static_cast<std::int32_t>((value >> bit) & 1u);
}

} // namespace

bool IsWriteCommand(std::uint8_t code) noexcept {
    return code == kCmdWriteOutputs || code == kCmdWriteWeightPoint || code == kCmdWriteDosing;
}

std::uint8_t RequestView::Code() const noexcept {
    return body && length > addressSize ? body[addressSize] : 0;
}

std::int32_t EchoLength(const RequestView& request) noexcept {
    if (IsWriteCommand(request.Code())) {
        return request.addressSize + 1;
    }
    return std::max(0, request.length - (request.withCrc ? 1 : 0));
}

EchoResult CheckEcho(const RequestView& request, const std::uint8_t* reply,
                     std::int32_t length) noexcept {
    const std::int32_t echo = EchoLength(request);
    if (!reply || length < echo || length <= request.addressSize || echo > request.length) {
        return EchoResult::TooShort;
    }
    return std::equal(reply, reply + echo, request.body) ? EchoResult::Match : EchoResult::Mismatch;
}

FrameRole ClassifyFrame(const RequestView& request, const std::uint8_t* frame,
                        std::int32_t length) noexcept {
    if (!frame || length <= 0) {
        return FrameRole::Candidate;
    }
    if (length == request.length && std::equal(frame, frame + length, request.body)) {
        return FrameRole::Copy;
    }
    if (length <= request.addressSize || request.length <= request.addressSize) {
        return FrameRole::Stray;
    }
    const std::int32_t compared = std::min({length, EchoLength(request), request.length});
    return std::equal(frame, frame + compared, request.body) ? FrameRole::Candidate
                                                             : FrameRole::Stray;
}

bool ReplyMayEqualRequest(const RequestView& request) noexcept {
    return request.Code() == kCmdWriteDosing;
}

bool ParseReply(std::uint8_t code, const std::uint8_t* reply, std::int32_t length,
                std::uint8_t addressSize, bool withCrc, ReplyValues& out) noexcept {
    out = ReplyValues{};
    out.code = code;
    if (!reply) {
        return false;
    }
    const std::uint8_t* data = reply + addressSize + 1; // first byte after the command
    auto needs = [&](std::uint8_t base) { return length == Length(addressSize, withCrc, base); };
    switch (code) {
    case kCmdReadCounter:
        if (!needs(kBaseCounter)) {
            return false;
        }
        out.count = BCDToInt(data + 1, 5);
        return true;
    case kCmdReadInputs:
    case kCmdReadOutputs:
        if (!needs(kBaseOneMask) && !needs(kBaseTwoMasks)) {
            return false;
        }
        out.maskBytes = static_cast<std::uint8_t>(length - Length(addressSize, withCrc, kBaseAck));
        out.mask = static_cast<std::uint16_t>(data[0] | (out.maskBytes > 1 ? data[1] << 8 : 0));
        return true;
    case kCmdReadWeightPoint:
        if (!needs(kBaseWeightPoint)) {
            return false;
        }
        out.point = data[0];
        out.lowLevel = BCDToInt(data + 1, 3);
        out.highLevel = BCDToInt(data + 4, 3);
        return true;
    case kCmdReadNet:
    case kCmdReadGross:
        if (!needs(kBaseWeight)) {
            return false;
        }
        out.weight = BCDToInt(data, 3);
        out.status = data[3];
        return true;
    case kCmdReadState:
        if (!needs(kBaseState)) {
            return false;
        }
        out.state = data[0];
        return true;
    case kCmdWriteOutputs:
    case kCmdWriteWeightPoint:
        return needs(kBaseAck);
    case kCmdWriteDosing:
        return needs(kBaseDosingAck);
    default:
        return false;
    }
}

bool ParseOutputsWrite(const RequestView& request, std::uint16_t& mask,
                       std::uint8_t& maskBytes) noexcept {
    const std::int32_t bytes =
        request.length - Length(request.addressSize, request.withCrc, kBaseAck);
    if (request.Code() != kCmdWriteOutputs || bytes < 1 || bytes > 2) {
        return false;
    }
    const std::uint8_t* data = request.body + request.addressSize + 1;
    maskBytes = static_cast<std::uint8_t>(bytes);
    mask = static_cast<std::uint16_t>(data[0] | (bytes > 1 ? data[1] << 8 : 0));
    return true;
}

bool ParseWeightPointWrite(const RequestView& request, std::uint8_t& point, std::uint32_t& lowLevel,
                           std::uint32_t& highLevel) noexcept {
    if (request.Code() != kCmdWriteWeightPoint ||
        request.length != Length(request.addressSize, request.withCrc, kBaseWeightPoint)) {
        return false;
    }
    const std::uint8_t* data = request.body + request.addressSize + 1;
    point = data[0];
    lowLevel = BCDToInt(data + 1, 3);
    highLevel = BCDToInt(data + 4, 3);
    return true;
}

double ScaleByDecimals(double raw, std::uint8_t status) noexcept {
    // The controller reads out a decimal: raw and 10^d are both exact in a double (d <= 7), so
    // one correctly rounded division gives the double nearest that decimal. Dividing by ten
    // once per place rounds every step and drifts (6312 with two places gave 63.120000000000005).
    return raw / kPowersOfTen[status & kDecimalsMask];
}

bool ValueForItem(const ReplyValues& reply, std::int32_t parameter, std::uint8_t weightParams,
                  ItemValue& out) noexcept {
    out = ItemValue{};
    switch (reply.code) {
    case kCmdReadCounter: {
        out.kind = ItemValue::Real;
        double value = static_cast<double>(reply.count);
        if (parameter == 1 || parameter == 3) {
            if (parameter == 3 && (weightParams & kNegativeBit)) {
                value = -value;
            }
            value = ScaleByDecimals(value, weightParams);
        }
        out.real = value;
        return true;
    }
    case kCmdReadInputs:
    case kCmdReadOutputs: {
        const std::int32_t bit = std::clamp(parameter, 0, kHighestMaskBit);
        if (bit >= kBitsPerByte * reply.maskBytes) {
            return false;
        }
        out.kind = ItemValue::Bit;
        out.bit = Bit(reply.mask, bit);
        return true;
    }
    case kCmdReadWeightPoint:
        out.kind = ItemValue::Real;
        out.real = ScaleByDecimals(parameter == 0 ? reply.lowLevel : reply.highLevel, weightParams);
        return true;
    case kCmdReadNet:
    case kCmdReadGross: {
        out.kind = ItemValue::Real;
        double value = static_cast<double>(reply.weight);
        if (reply.status & kNegativeBit) {
            value = -value;
        }
        out.real = ScaleByDecimals(value, reply.status);
        return true;
    }
    case kCmdReadState:
        out.kind = ItemValue::Bit;
        out.bit = Bit(reply.state, std::clamp(parameter, 0, kHighestStateBit));
        return true;
    default:
        return true; // writes: nothing to decode
    }
}

} // namespace vemox
