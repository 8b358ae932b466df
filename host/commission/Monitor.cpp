#include "host/commission/Monitor.h"

#include <sstream>

namespace vemox::host {
namespace {

constexpr std::int64_t kListenSliceMs = 50;
// An echo comes back while the request is still going out; a repeat only after the master's
// time-out. A frame of the longest request, at the line rate, plus this much, is an echo.
constexpr std::int64_t kEchoSlackMs = 20;
constexpr std::int64_t kLongestFrameBits = 20 * 10;

std::string Padded(const std::string& text, std::size_t width) {
    return text.size() >= width ? text + " " : text + std::string(width - text.size(), ' ');
}

// "1 stray frame", "2 stray frames".
std::string Counted(std::int64_t count, const std::string& thing) {
    return std::to_string(count) + " " + thing + (count == 1 ? "" : "s");
}

} // namespace

LineMonitor::LineMonitor(bool withCrc, std::uint32_t baud, std::int64_t gapMs, Sink sink)
    : withCrc_(withCrc),
      echoWindowMs_(kEchoSlackMs + (baud > 0 ? kLongestFrameBits * 1000 / baud : 0)),
      assembler_(gapMs), sink_(std::move(sink)) {}

void LineMonitor::Feed(const std::uint8_t* data, std::size_t size, std::int64_t nowMs) {
    assembler_.Feed(data, size, nowMs);
    Tick(nowMs);
}

void LineMonitor::Tick(std::int64_t nowMs) {
    while (auto bytes = assembler_.Take(nowMs)) {
        for (const LineFrame& frame : SplitFrames(*bytes)) {
            Judge(frame, nowMs);
        }
    }
}

LineMonitor::Tally& LineMonitor::TallyOf(const Bytes& body) {
    const bool serial = AddressSizeOf(body) == kSerialAddressSize;
    const std::uint32_t id = serial ? (std::uint32_t{body[1]} << 16) |
                                          (std::uint32_t{body[2]} << 8) | std::uint32_t{body[3]}
                                    : std::uint32_t{body[0]};
    return tallies_[{serial, id}];
}

void LineMonitor::Unanswered(const std::string& why, std::int64_t nowMs) {
    if (!pending_ || pending_->answered) {
        return;
    }
    ++TallyOf(pending_->body).unanswered;
    sink_(TraceLineText("", kArrowIn, nowMs - pending_->atMs,
                        pending_->asked + ": no reply (" + why + ")", {}));
    pending_->answered = true;
}

// Whether the frame answers the request heard last; a reply of any kind is tallied.
bool LineMonitor::TakeAsReply(const LineFrame& frame, std::int64_t nowMs) {
    if (!pending_ || pending_->answered) {
        return false;
    }
    const Judged judged = JudgeFrame(&pending_->body, frame, withCrc_);
    Tally& tally = TallyOf(pending_->body);
    const std::int64_t ms = nowMs - pending_->atMs;
    switch (judged.verdict) {
    case Verdict::Reply:
        ++tally.good;
        tally.times.Add(ms);
        break;
    case Verdict::ChecksumError:
        ++tally.checksumErrors;
        break;
    case Verdict::WrongReply:
        ++tally.wrongReplies;
        break;
    case Verdict::Echo:
        if (pending_->echoed || ms > echoWindowMs_) {
            return false; // the same request again: a repeat
        }
        pending_->echoed = true;
        sink_(TraceLineText("", kArrowIn, ms, judged.words, frame.raw));
        return true;
    default:
        return false;
    }
    pending_->answered = true;
    sink_(TraceLineText("", kArrowIn, ms, judged.words, frame.raw));
    return true;
}

void LineMonitor::Judge(const LineFrame& frame, std::int64_t nowMs) {
    if (TakeAsReply(frame, nowMs)) {
        return;
    }
    if (frame.marked && !frame.body.empty()) {
        if (const auto asked = RequestWords(frame.body, withCrc_)) {
            Unanswered("the next request came", nowMs);
            pending_ = Pending{frame.body, *asked, nowMs, false, false};
            ++TallyOf(frame.body).requests;
            sink_(TraceLineText("", kArrowOut, std::nullopt, *asked, frame.raw));
            return;
        }
    }
    const Judged judged = JudgeFrame(nullptr, frame, withCrc_);
    ++(judged.verdict == Verdict::Stray ? stray_ : noise_);
    sink_(TraceLineText("", kArrowIn, std::nullopt, judged.words, frame.raw));
}

std::string LineMonitor::Summary() const {
    std::ostringstream out;
    int requests = 0;
    for (const auto& [who, tally] : tallies_) {
        requests += tally.requests;
    }
    out << Counted(static_cast<std::int64_t>(tallies_.size()), "controller") << " heard, "
        << Counted(requests, "request") << ", " << Counted(stray_, "stray frame") << ", "
        << Counted(noise_, "noise or empty frame");
    if (pending_ && !pending_->answered) {
        out << ", 1 request still awaiting its reply";
    }
    out << "\n"
        << Padded("CONTROLLER", 16) << Padded("REQUESTS", 10) << Padded("GOOD", 8)
        << Padded("CHECKSUM", 10) << Padded("WRONG", 8) << Padded("NO REPLY", 10)
        << "REPLY MS MIN/AVG/MAX\n";
    for (const auto& [who, tally] : tallies_) {
        const std::string name = (who.first ? "serial " : "addr ") + std::to_string(who.second);
        const std::string times = tally.times.Count() > 0 ? tally.times.Text(false) : "-";
        out << Padded(name, 16) << Padded(std::to_string(tally.requests), 10)
            << Padded(std::to_string(tally.good), 8)
            << Padded(std::to_string(tally.checksumErrors), 10)
            << Padded(std::to_string(tally.wrongReplies), 8)
            << Padded(std::to_string(tally.unanswered), 10) << times << "\n";
    }
    return out.str();
}

void Listen(SerialLine& line, const HostClock& clock, LineMonitor& monitor,
            const std::function<bool()>& stop) {
    std::uint8_t buffer[256];
    const auto drain = [&] {
        for (std::size_t got = line.Read(buffer, sizeof buffer); got > 0;
             got = line.Read(buffer, sizeof buffer)) {
            monitor.Feed(buffer, got, clock.NowMs());
        }
        monitor.Tick(clock.NowMs());
    };
    while (!stop()) {
        SerialLine* device = line.Waitable();
        WaitForInput(device ? std::vector<SerialLine*>{device} : std::vector<SerialLine*>{},
                     kListenSliceMs);
        drain();
    }
    drain(); // what arrived just before the stop belongs to the summary
}

} // namespace vemox::host
