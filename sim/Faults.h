// Fault injection: which exchanges go wrong (by a seeded rate or by a script of exchange
// numbers) and how a faulty reply looks on the wire.
#pragma once

#include "sim/Line.h"

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vemox::sim {

enum class FaultKind {
    None,
    NoReply,      // the controller stays silent
    Late,         // the reply comes after an extra delay
    BadChecksum,  // the last body byte (the checksum on a line that has one) is corrupted
    WrongAddress, // the reply echoes another address section, with a matching checksum
    WrongLength,  // one data byte too many, or the body cut to N bytes; matching checksum
    Split,        // the frame goes out in pieces with gaps between them
    Junk,         // bytes that are no markers precede the frame
};

constexpr FaultKind kAllFaults[] = {
    FaultKind::NoReply,     FaultKind::Late,  FaultKind::BadChecksum, FaultKind::WrongAddress,
    FaultKind::WrongLength, FaultKind::Split, FaultKind::Junk};

std::string_view FaultName(FaultKind kind);
// "no-reply, late, ...": every fault of kAllFaults, for help texts and complaints.
std::string AllFaultNames();
std::optional<FaultKind> ParseFaultKind(std::string_view name);

// Parameters of faults that need one; a scripted fault may carry its own.
struct FaultSettings {
    std::uint32_t lateMs = 500;
    std::uint32_t splitPieces = 2;
    std::uint32_t splitGapMs = 20;
    std::uint32_t junkBytes = 3;
};

struct Fault {
    FaultKind kind = FaultKind::None;
    // late: ms, split: pieces, junk: bytes, wrong-length: bytes kept; 0 takes the setting
    std::uint32_t param = 0;
};

struct FaultConfig {
    std::map<FaultKind, double> rates;     // probability per answered exchange
    std::map<std::uint64_t, Fault> script; // exchange number (from 1) -> fault
    FaultSettings settings;
    std::uint64_t seed = 1;
};

// Answers the first problem of a fault configuration, or nothing.
std::optional<std::string> CheckFaults(const FaultConfig& faults);

// A run of bytes written back to back, after `delay` counted from the end of the previous
// run (or from the controller's turnaround for the first).
struct Burst {
    SimTime delay{0};
    Bytes bytes;
};

// Deterministic generator (splitmix64), the same sequence on every platform.
class Random {
public:
    explicit Random(std::uint64_t seed) : state_(seed) {}
    std::uint64_t Next();
    double Uniform() { return static_cast<double>(Next() >> 11) * 0x1.0p-53; } // [0, 1)

private:
    std::uint64_t state_;
};

class FaultPlan {
public:
    explicit FaultPlan(FaultConfig config) : config_(std::move(config)), random_(config_.seed) {}

    // The fault for the answered exchange with this number (from 1). A scripted entry wins;
    // otherwise one draw against the rates picks at most one fault.
    Fault Pick(std::uint64_t exchange);

    // The bytes of a reply as they go out under a fault. Nothing for a dropped reply.
    std::vector<Burst> Shape(const Answer& answer, const Line& line, const Fault& fault);

private:
    FaultConfig config_;
    Random random_;
};

} // namespace vemox::sim
