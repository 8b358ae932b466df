#include "host/commission/FrameText.h"

#include "platform/Clock.h"
#include "platform/DateTime.h"
#include "platform/Text.h"
#include "protocol/Codec.h"

#include <cstdio>

namespace vemox::host {
namespace {

constexpr std::uint8_t kSerialLead = 0x00;

// Command and data bytes of each request the driver sends (the base of the length rule).
struct RequestShape {
    std::uint8_t code;
    std::uint8_t base;
    std::uint8_t otherBase; // a second length the request may have (outputs: one or two bytes)
};
constexpr RequestShape kRequests[] = {{kCmdReadCounter, 2, 2},      {kCmdReadInputs, 1, 1},
                                      {kCmdReadOutputs, 1, 1},      {kCmdReadWeightPoint, 2, 2},
                                      {kCmdReadNet, 1, 1},          {kCmdReadGross, 1, 1},
                                      {kCmdReadState, 1, 1},        {kCmdWriteOutputs, 2, 3},
                                      {kCmdWriteWeightPoint, 8, 8}, {kCmdWriteDosing, 2, 2}};

constexpr char kHexDigits[] = "0123456789ABCDEF";

std::string Hex(std::uint32_t value, std::size_t digits) {
    std::string text(digits, '0');
    for (std::size_t i = digits; i-- > 0; value >>= 4) {
        text[i] = kHexDigits[value & 0x0F];
    }
    return "0x" + text;
}

// The value with as many decimals as the status byte gives it, and its sign.
std::string WeightText(const ReplyValues& reply) {
    const double raw = static_cast<double>(reply.weight);
    const double value = ScaleByDecimals(reply.status & kNegativeBit ? -raw : raw, reply.status);
    const int decimals = reply.status & kDecimalsMask;
    char text[64];
    std::snprintf(text, sizeof text, "%.*f (%d decimal%s, status %s)", decimals, value, decimals,
                  decimals == 1 ? "" : "s", Hex(reply.status, 2).c_str());
    return text;
}

std::string ReplyWords(std::uint8_t code, const ReplyValues& reply, const Bytes& body) {
    const std::uint8_t* data = body.data() + AddressSizeOf(body) + 1;
    switch (code) {
    case kCmdReadNet:
        return "net " + WeightText(reply);
    case kCmdReadGross:
        return "gross " + WeightText(reply);
    case kCmdReadCounter:
        // Counters 1 and 3 take the weight's decimal places, which this frame does not carry.
        return "counter " + std::to_string(data[0]) + " = " + std::to_string(reply.count) +
               " (raw)";
    case kCmdReadInputs:
    case kCmdReadOutputs:
        return std::string(code == kCmdReadInputs ? "inputs " : "outputs ") +
               Hex(reply.mask, 2u * reply.maskBytes);
    case kCmdReadWeightPoint:
        return "point " + std::to_string(reply.point) + ": lower " +
               std::to_string(reply.lowLevel) + ", upper " + std::to_string(reply.highLevel) +
               " (raw)";
    case kCmdReadState:
        return "state " + Hex(reply.state, 2);
    default:
        return "acknowledged";
    }
}

} // namespace

std::uint8_t AddressSizeOf(const Bytes& body) {
    return !body.empty() && body[0] == kSerialLead ? kSerialAddressSize : kNetworkAddressSize;
}

std::vector<LineFrame> SplitFrames(const Bytes& bytes) {
    std::vector<LineFrame> frames;
    std::size_t at = 0;
    while (at < bytes.size()) {
        const std::uint8_t* start = bytes.data() + at;
        const auto left = static_cast<std::int32_t>(bytes.size() - at);
        const std::int32_t span = std::max<std::int32_t>(1, FrameSpan(start, left));
        LineFrame frame;
        frame.raw.assign(start, start + span);
        frame.marked = frame.raw.front() == kFrameMarker;
        frame.body = frame.raw;
        std::uint8_t* body = frame.body.data();
        std::int32_t count = span;
        ExtractFrame(body, count);
        if (OnlyMarkers(frame.raw.data(), span)) {
            count = 0;
        }
        frame.body = Bytes(body, body + count);
        frames.push_back(std::move(frame));
        at += static_cast<std::size_t>(span);
    }
    return frames;
}

RequestView ViewOf(const Bytes& body, bool withCrc) {
    RequestView view;
    view.body = body.data();
    view.length = static_cast<std::int32_t>(body.size());
    view.addressSize = AddressSizeOf(body);
    view.withCrc = withCrc;
    return view;
}

std::string WhoText(const Bytes& body) {
    if (body.size() >= kSerialAddressSize && body[0] == kSerialLead) {
        const std::uint32_t serial =
            (std::uint32_t{body[1]} << 16) | (std::uint32_t{body[2]} << 8) | std::uint32_t{body[3]};
        return "serial " + std::to_string(serial);
    }
    return body.empty() ? "nobody" : "addr " + std::to_string(body[0]);
}

std::optional<std::string> RequestWords(const Bytes& body, bool withCrc) {
    const RequestView view = ViewOf(body, withCrc);
    const std::uint8_t code = view.Code();
    const bool network = view.addressSize == kNetworkAddressSize;
    if (withCrc && CalcCRC(body.data(), view.length, 0) != 0) {
        return std::nullopt;
    }
    const RequestShape* shape = nullptr;
    for (const RequestShape& known : kRequests) {
        if (known.code == code && (view.length == LengthQuery(network, withCrc, known.base) ||
                                   view.length == LengthQuery(network, withCrc, known.otherBase))) {
            shape = &known;
        }
    }
    if (!shape) {
        return std::nullopt;
    }
    const std::string who = WhoText(body) + " ";
    // The counter, point or dosing byte right after the command.
    const std::size_t first = view.addressSize + 1u;
    const std::uint8_t parameter = first < body.size() ? body[first] : 0;
    switch (code) {
    case kCmdReadNet:
        return who + "read net weight";
    case kCmdReadGross:
        return who + "read gross weight";
    case kCmdReadCounter:
        return who + "read counter " + std::to_string(parameter);
    case kCmdReadInputs:
        return who + "read inputs";
    case kCmdReadOutputs:
        return who + "read outputs";
    case kCmdReadWeightPoint:
        return who + "read point " + std::to_string(parameter);
    case kCmdReadState:
        return who + "read state";
    case kCmdWriteOutputs: {
        std::uint16_t mask = 0;
        std::uint8_t maskBytes = 0;
        ParseOutputsWrite(view, mask, maskBytes);
        return who + "write outputs " + Hex(mask, 2u * maskBytes);
    }
    case kCmdWriteWeightPoint: {
        std::uint8_t point = 0;
        std::uint32_t low = 0;
        std::uint32_t high = 0;
        ParseWeightPointWrite(view, point, low, high);
        return who + "write point " + std::to_string(point) + ": lower " + std::to_string(low) +
               ", upper " + std::to_string(high) + " (raw)";
    }
    default:
        return who + "write dosing " + Hex(parameter, 2);
    }
}

Judged JudgeFrame(const Bytes* request, const LineFrame& frame, bool withCrc) {
    if (frame.body.empty()) {
        return {Verdict::Empty, "empty frame"};
    }
    if (!frame.marked) {
        return {Verdict::Noise, "noise (no start marker)"};
    }
    const std::string who = WhoText(frame.body);
    if (!request) {
        return {Verdict::Stray, "stray frame from " + who + ": no request awaits a reply"};
    }
    const RequestView view = ViewOf(*request, withCrc);
    const auto length = static_cast<std::int32_t>(frame.body.size());
    switch (ClassifyFrame(view, frame.body.data(), length)) {
    case FrameRole::Stray:
        return {Verdict::Stray, "stray frame from " + who + ": answers another request"};
    case FrameRole::Copy:
        // The dosing write's reply may repeat the request byte for byte.
        if (!ReplyMayEqualRequest(view)) {
            return {Verdict::Echo, "echo of the request"};
        }
        break;
    case FrameRole::Candidate:
        break;
    }
    if (withCrc && CalcCRC(frame.body.data(), length, 0) != 0) {
        return {Verdict::ChecksumError, who + " checksum error"};
    }
    ReplyValues values;
    if (!ParseReply(view.Code(), frame.body.data(), length, view.addressSize, withCrc, values)) {
        return {Verdict::WrongReply,
                who + " reply of the wrong length (" + std::to_string(length) + " bytes)"};
    }
    return {Verdict::Reply, who + " " + ReplyWords(view.Code(), values, frame.body)};
}

// The bytes as the driver's Tx and Rx log lines show them, without their closing space.
std::string HexText(const Bytes& bytes) {
    std::string text =
        platform::Utf16ToUtf8(GetStrData(bytes.data(), static_cast<std::int32_t>(bytes.size())));
    if (!text.empty()) {
        text.pop_back();
    }
    return text;
}

std::string TraceLineText(const std::string& place, const char* arrow,
                          std::optional<std::int64_t> ms, const std::string& words,
                          const Bytes& raw) {
    const platform::CivilTime now = platform::SplitDateTime(platform::LocalNow());
    char clock[16];
    std::snprintf(clock, sizeof clock, "%02d:%02d:%02d.%03d", now.hour, now.minute, now.second,
                  now.millisecond);
    std::string line = clock;
    if (!place.empty()) {
        line += " " + place;
    }
    line += std::string(" ") + arrow;
    if (ms) {
        line += " " + std::to_string(*ms) + " ms";
    }
    line += " " + words;
    if (!raw.empty()) {
        line += "  " + HexText(raw);
    }
    return line;
}

} // namespace vemox::host
