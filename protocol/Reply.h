// Judging a controller's reply against the request it answers, and picking an item's value
// out of it. Pure functions on extracted bodies, so that they can be tested and fuzzed alone.
#pragma once

#include "protocol/Request.h"

#include <cstdint>

namespace vemox {

// Address section sizes: one address byte, or 0x00 and three bytes of the serial number.
constexpr std::uint8_t kNetworkAddressSize = 1;
constexpr std::uint8_t kSerialAddressSize = 4;

// Status byte of a weight: decimal places in bits 0..2, sign in bit 7.
constexpr std::uint8_t kDecimalsMask = 0x07;
constexpr std::uint8_t kNegativeBit = 0x80;

bool IsWriteCommand(std::uint8_t code) noexcept;

// A request body as it was built (unstuffed, checksum included while checksums are on).
struct RequestView {
    const std::uint8_t* body = nullptr;
    std::int32_t length = 0;
    std::uint8_t addressSize = kNetworkAddressSize;
    bool withCrc = true;

    // The command byte, or 0 when the body is too short to hold one.
    std::uint8_t Code() const noexcept;
};

enum class EchoResult { Match, TooShort, Mismatch };

// How many leading bytes a reply repeats: the whole request before its checksum for a read,
// only the address section and the command for a write.
std::int32_t EchoLength(const RequestView& request) noexcept;
EchoResult CheckEcho(const RequestView& request, const std::uint8_t* reply,
                     std::int32_t length) noexcept;

// What a received frame is to the request that awaits its reply on the line.
enum class FrameRole {
    Candidate, // carries the request's address section and command: judged as its reply
    Stray,     // answers some other request (a late reply, another master, noise)
    Copy,      // byte for byte the request itself, as a line that echoes what is sent gives it
};
// A frame is stray when it lacks the request's address section or command, or differs from the
// request in any of the bytes a reply repeats (for a read, its parameters too). An empty frame
// is a candidate: it is judged as a reply with nothing in it.
FrameRole ClassifyFrame(const RequestView& request, const std::uint8_t* frame,
                        std::int32_t length) noexcept;

// Whether a valid reply may be byte for byte the request itself: the dosing-control write,
// whose reply repeats the value. For such a request a copy alone does not tell the line's echo
// from the controller's answer.
bool ReplyMayEqualRequest(const RequestView& request) noexcept;

// Everything a valid reply to one command carries; which fields mean something depends on
// the command.
struct ReplyValues {
    std::uint8_t code = 0;
    std::uint16_t mask = 0;     // inputs, outputs
    std::uint8_t maskBytes = 0; // 1 or 2
    std::uint32_t count = 0;    // counter, raw
    std::uint8_t point = 0;     // weight point number
    std::uint32_t lowLevel = 0; // weight point levels, raw
    std::uint32_t highLevel = 0;
    std::uint32_t weight = 0; // net or gross, raw
    std::uint8_t status = 0;  // the weight's status byte
    std::uint8_t state = 0;   // state byte
};

// Checks that the reply has exactly the length its command requires and reads its values.
// False for a wrong length or a command this driver never sends.
bool ParseReply(std::uint8_t code, const std::uint8_t* reply, std::int32_t length,
                std::uint8_t addressSize, bool withCrc, ReplyValues& out) noexcept;

// The state a write put into the controller, read back from the request that was sent.
bool ParseOutputsWrite(const RequestView& request, std::uint16_t& mask,
                       std::uint8_t& maskBytes) noexcept;
bool ParseWeightPointWrite(const RequestView& request, std::uint8_t& point, std::uint32_t& lowLevel,
                           std::uint32_t& highLevel) noexcept;

// An item's value from a valid reply. `parameter` is the item's own choice within the shared
// reply: counter number, bit number or level selector (0 lower, else upper).
struct ItemValue {
    enum Kind { None, Real, Bit } kind = None;
    double real = 0;
    std::int32_t bit = 0;
};

// False when the reply cannot give the item a value (a bit above the mask's width).
bool ValueForItem(const ReplyValues& reply, std::int32_t parameter, std::uint8_t weightParams,
                  ItemValue& out) noexcept;

// The raw reading with the status byte's decimal places: the double nearest raw / 10^d.
double ScaleByDecimals(double raw, std::uint8_t status) noexcept;

} // namespace vemox
