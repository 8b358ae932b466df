// Frames of the controllers' line in words, for the trace of the host's own exchanges and for
// the monitor of a line that another master polls: what a request asks, what a reply says, and
// what a frame that is no answer is (an echo, a stray frame, noise). Decoded with the protocol's
// own pure functions, so the words say what the driver makes of the same bytes.
#pragma once

#include "protocol/Reply.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vemox::host {

using Bytes = std::vector<std::uint8_t>;

// One frame of a delivery or of a stretch of line traffic.
struct LineFrame {
    Bytes raw;           // as on the line
    Bytes body;          // unstuffed: address section, command, data, checksum
    bool marked = false; // began with a start marker; without one it is noise
};

// A delivery cut into frames: each up to its end marker, noise before a start marker apart.
std::vector<LineFrame> SplitFrames(const Bytes& bytes);

// 4 when the body starts with the 0x00 of a serial number, else 1.
std::uint8_t AddressSizeOf(const Bytes& body);

// The request view of a body: its address section (0x00 leads a serial number) and checksum.
RequestView ViewOf(const Bytes& body, bool withCrc);

// "addr 5" or "serial 123456", from the address section of a body.
std::string WhoText(const Bytes& body);

// What a request this driver sends asks for ("read counter 3", "write outputs 0x0009");
// nothing when the body is not such a request (unknown command, wrong length, bad checksum).
std::optional<std::string> RequestWords(const Bytes& body, bool withCrc);

enum class Verdict {
    Reply,         // the answer, decoded
    ChecksumError, // the answer, with a wrong checksum
    WrongReply,    // the answer's address and command, but not its length
    Echo,          // the request itself, as a line that echoes gives it back
    Stray,         // a frame that answers another request, or none
    Noise,         // bytes without a start marker
    Empty,         // markers only
};

struct Judged {
    Verdict verdict = Verdict::Noise;
    std::string words;
};

// What a frame is to the request awaiting its reply (none: no request awaits one).
Judged JudgeFrame(const Bytes* request, const LineFrame& frame, bool withCrc);

// "FF 05 C2 86 FF FF".
std::string HexText(const Bytes& bytes);

// One line of a trace: local time of day, where, direction, time since the request, words,
// and the raw bytes beside them. `place` and `ms` may be empty.
std::string TraceLineText(const std::string& place, const char* arrow,
                          std::optional<std::int64_t> ms, const std::string& words,
                          const Bytes& raw);

constexpr const char* kArrowOut = "→";
constexpr const char* kArrowIn = "←";

} // namespace vemox::host
