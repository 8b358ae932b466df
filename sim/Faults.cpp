#include "sim/Faults.h"

#include <algorithm>

namespace vemox::sim {

namespace {

constexpr std::string_view kNames[] = {"none",          "no-reply",     "late",  "bad-crc",
                                       "wrong-address", "wrong-length", "split", "junk"};

SimTime Ms(std::uint32_t ms) {
    return std::chrono::milliseconds(ms);
}

std::uint32_t Or(std::uint32_t value, std::uint32_t fallback) {
    return value != 0 ? value : fallback;
}

} // namespace

std::string_view FaultName(FaultKind kind) {
    return kNames[static_cast<int>(kind)];
}

std::string AllFaultNames() {
    std::string names;
    for (const auto kind : kAllFaults) {
        names += (names.empty() ? "" : ", ") + std::string(FaultName(kind));
    }
    return names;
}

std::optional<FaultKind> ParseFaultKind(std::string_view name) {
    for (const auto kind : kAllFaults) {
        if (FaultName(kind) == name) {
            return kind;
        }
    }
    return std::nullopt;
}

std::optional<std::string> CheckFaults(const FaultConfig& faults) {
    double total = 0;
    for (const auto& [kind, rate] : faults.rates) {
        if (!(rate >= 0.0 && rate <= 1.0)) {
            return "the rate of " + std::string(FaultName(kind)) + " must lie in 0..1";
        }
        total += rate;
    }
    if (total > 1.0 + 1e-9) {
        return "the fault rates add up to more than 1";
    }
    for (const auto& [exchange, fault] : faults.script) {
        if (exchange == 0) {
            return "scripted exchanges are counted from 1";
        }
        if (fault.kind == FaultKind::Split && fault.param == 1) {
            return "a split reply needs at least 2 pieces";
        }
    }
    if (faults.settings.splitPieces < 2) {
        return "a split reply needs at least 2 pieces";
    }
    return std::nullopt;
}

std::uint64_t Random::Next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

Fault FaultPlan::Pick(std::uint64_t exchange) {
    if (const auto it = config_.script.find(exchange); it != config_.script.end()) {
        return it->second;
    }
    if (config_.rates.empty()) {
        return {};
    }
    const double draw = random_.Uniform();
    double edge = 0;
    for (const auto kind : kAllFaults) {
        if (const auto it = config_.rates.find(kind); it != config_.rates.end()) {
            edge += it->second;
            if (draw < edge) {
                return {kind, 0};
            }
        }
    }
    return {};
}

std::vector<Burst> FaultPlan::Shape(const Answer& answer, const Line& line, const Fault& fault) {
    const auto& settings = config_.settings;
    Bytes body = answer.body;
    // Corruptions that should read as a wrong reply, not a checksum error, re-seal the body.
    const auto reseal = [&] {
        if (line.checksum()) {
            body.pop_back();
        }
        line.Seal(body);
    };

    switch (fault.kind) {
    case FaultKind::NoReply:
        return {};
    case FaultKind::BadChecksum:
        body.back() ^= 0x01;
        break;
    case FaultKind::WrongAddress: {
        const auto pos = answer.addressSize - 1; // network address, or the serial's low byte
        if (answer.addressSize == 1) {
            body[pos] = static_cast<std::uint8_t>(body[pos] % kMaxAddress + 1);
        } else {
            body[pos] ^= 0x01;
        }
        reseal();
        break;
    }
    case FaultKind::WrongLength:
        if (line.checksum()) {
            body.pop_back();
        }
        if (fault.param == 0) {
            body.push_back(0x00);
        } else {
            body.resize(std::min<std::size_t>(fault.param, body.size() - 1));
        }
        line.Seal(body);
        break;
    default:
        break;
    }

    Bytes frame = WrapFrame(body);
    std::vector<Burst> bursts;
    switch (fault.kind) {
    case FaultKind::Late:
        bursts.push_back({Ms(Or(fault.param, settings.lateMs)), std::move(frame)});
        break;
    case FaultKind::Junk: {
        Bytes junk(Or(fault.param, settings.junkBytes));
        // Below 0xFE: junk must not be mistaken for markers or stuffing.
        for (auto& b : junk) {
            b = static_cast<std::uint8_t>(random_.Next() % 0xFE);
        }
        junk.insert(junk.end(), frame.begin(), frame.end());
        bursts.push_back({SimTime{0}, std::move(junk)});
        break;
    }
    case FaultKind::Split: {
        const std::size_t pieces =
            std::min<std::size_t>(Or(fault.param, settings.splitPieces), frame.size());
        std::size_t start = 0;
        for (std::size_t i = 0; i < pieces; ++i) {
            const std::size_t end = frame.size() * (i + 1) / pieces;
            bursts.push_back({i == 0 ? SimTime{0} : Ms(settings.splitGapMs),
                              Bytes(frame.begin() + static_cast<std::ptrdiff_t>(start),
                                    frame.begin() + static_cast<std::ptrdiff_t>(end))});
            start = end;
        }
        break;
    }
    default:
        bursts.push_back({SimTime{0}, std::move(frame)});
        break;
    }
    return bursts;
}

} // namespace vemox::sim
