#include "host/commission/Trace.h"

#include "platform/Text.h"
#include "protocol/Codec.h"

namespace vemox::host {
namespace {

std::string PortText(TComPortNum port) {
    return platform::Utf16ToUtf8(GetPortName(static_cast<std::uint8_t>(port)));
}

Bytes BodyOf(const std::uint8_t* data, std::size_t size) {
    for (const LineFrame& frame : SplitFrames(Bytes(data, data + size))) {
        if (frame.marked) {
            return frame.body;
        }
    }
    return {};
}

} // namespace

void LineTrace::Written(TComPortNum port, const std::uint8_t* data, std::size_t size, bool accepted,
                        std::int64_t nowMs) {
    PortTrace& line = ports_[port];
    const Bytes body = BodyOf(data, size);
    line.attempt = line.retry && body == line.request ? line.attempt + 1 : 1;
    line.asked = RequestWords(body, withCrc_).value_or(WhoText(body) + " request");
    std::string words = line.asked;
    if (line.attempt > 1) {
        words += " (try " + std::to_string(line.attempt) + ")";
    }
    if (!accepted) {
        words += ": refused by the port, not sent";
    }
    sink_(TraceLineText(PortText(port), kArrowOut, std::nullopt, words, Bytes(data, data + size)));
    line.request = body;
    line.awaiting = accepted;
    line.sentMs = nowMs;
    line.answered = false;
    line.retry = !accepted;
}

void LineTrace::Delivered(TComPortNum port, const std::vector<std::uint8_t>& bytes,
                          std::int64_t nowMs) {
    PortTrace& line = ports_[port];
    for (const LineFrame& frame : SplitFrames(bytes)) {
        // Frames behind the answer in the same delivery await nothing.
        const bool awaiting = line.awaiting && !line.answered;
        const Judged judged = JudgeFrame(awaiting ? &line.request : nullptr, frame, withCrc_);
        switch (judged.verdict) {
        case Verdict::Reply:
        case Verdict::ChecksumError:
        case Verdict::WrongReply:
        case Verdict::Empty:
            line.answered = line.answered || awaiting;
            line.retry = judged.verdict != Verdict::Reply;
            break;
        default:
            break;
        }
        const std::optional<std::int64_t> after =
            awaiting ? std::optional<std::int64_t>(nowMs - line.sentMs) : std::nullopt;
        sink_(TraceLineText(PortText(port), kArrowIn, after, judged.words, frame.raw));
    }
}

void LineTrace::Released(TComPortNum port, std::int64_t nowMs) {
    PortTrace& line = ports_[port];
    if (line.awaiting && !line.answered) {
        sink_(TraceLineText(PortText(port), kArrowIn, nowMs - line.sentMs,
                            line.asked + ": time-out, no reply", {}));
        line.retry = true;
    }
    line.awaiting = false;
}

void TraceLines(DriverSession& session, LineTrace* trace) {
    if (trace) {
        trace->SetChecksum(session.Config().ChecksumOn());
        session.ObserveLines(trace);
    }
}

} // namespace vemox::host
