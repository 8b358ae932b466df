#include "sim/Controller.h"

#include "sim/Bcd.h"

#include <algorithm>
#include <cstdlib>

namespace vemox::sim {

namespace {

std::int64_t ElapsedMs(SimTime now) {
    return std::max<std::int64_t>(
        0, std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

} // namespace

std::uint64_t Controller::CyclesAt(SimTime now) const {
    const auto& m = config_.motion;
    return m.periodMs == 0 ? 0 : static_cast<std::uint64_t>(ElapsedMs(now)) / m.periodMs;
}

std::int64_t Controller::NetAt(SimTime now) const {
    const auto& m = config_.motion;
    if (m.periodMs == 0) {
        return config_.net;
    }
    const std::int64_t phase = ElapsedMs(now) % m.periodMs;
    return m.from + (static_cast<std::int64_t>(m.to) - m.from) * phase / m.periodMs;
}

// Counter 0 counts finished filling cycles and counter 1 adds up what they filled, so both
// advance with a moving weight; the others keep their configured values.
std::uint64_t Controller::CounterAt(int number, SimTime now) const {
    std::uint64_t value = config_.counters.at(number);
    const std::uint64_t cycles = CyclesAt(now);
    const auto& m = config_.motion;
    if (number == 0) {
        value += cycles;
    } else if (number == 1) {
        value +=
            cycles * static_cast<std::uint64_t>(std::abs(static_cast<std::int64_t>(m.to) - m.from));
    }
    return value % kCounterModulus;
}

// Input 0 reports the filling valve: open during the first half of each cycle.
std::uint16_t Controller::InputsAt(SimTime now) const {
    const auto& m = config_.motion;
    if (m.periodMs == 0) {
        return config_.inputs;
    }
    const bool filling = ElapsedMs(now) % m.periodMs < m.periodMs / 2;
    return static_cast<std::uint16_t>((config_.inputs & ~kInputFilling) |
                                      (filling ? kInputFilling : 0));
}

// Bit 0 of the state byte tells whether dosing runs, as the dosing-control byte commands.
std::uint8_t Controller::StateByte() const {
    return static_cast<std::uint8_t>((config_.state & ~kStateDosing) |
                                     (config_.dosing != 0 ? kStateDosing : 0));
}

void Controller::AppendWeight(Bytes& out, std::int64_t raw) const {
    const std::uint64_t magnitude =
        static_cast<std::uint64_t>(std::min<std::int64_t>(raw < 0 ? -raw : raw, kMaxWeight));
    AppendBcd(out, magnitude, 3);
    out.push_back(static_cast<std::uint8_t>((config_.decimals & kStatusDecimals) |
                                            (raw < 0 ? kStatusSign : 0)));
}

std::optional<Bytes> Controller::Handle(std::uint8_t command, const Bytes& data, SimTime now) {
    Bytes out;
    switch (command) {
    case cmd::kReadNet:
    case cmd::kReadGross:
        if (!data.empty()) {
            return std::nullopt;
        }
        AppendWeight(out, command == cmd::kReadNet ? NetAt(now) : GrossAt(now));
        return out;
    case cmd::kReadCounter:
        if (data.size() != 1 || data[0] >= kCounters) {
            return std::nullopt;
        }
        out.push_back(data[0]);
        AppendBcd(out, CounterAt(data[0], now), 5);
        return out;
    case cmd::kReadInputs: {
        if (!data.empty()) {
            return std::nullopt;
        }
        const std::uint16_t inputs = InputsAt(now);
        out.push_back(static_cast<std::uint8_t>(inputs & 0xFF));
        out.push_back(static_cast<std::uint8_t>(inputs >> 8));
        return out;
    }
    case cmd::kReadOutputs:
        if (!data.empty()) {
            return std::nullopt;
        }
        out.push_back(static_cast<std::uint8_t>(config_.outputs & 0xFF));
        if (config_.outputBytes > 1) {
            out.push_back(static_cast<std::uint8_t>(config_.outputs >> 8));
        }
        return out;
    case cmd::kReadWeightPoint: {
        if (data.size() != 1 || data[0] >= kWeightPoints) {
            return std::nullopt;
        }
        const auto& point = config_.points[data[0]];
        out.push_back(data[0]);
        AppendBcd(out, point.low, 3);
        AppendBcd(out, point.high, 3);
        return out;
    }
    case cmd::kReadState:
        if (!data.empty()) {
            return std::nullopt;
        }
        out.push_back(StateByte());
        return out;
    case cmd::kWriteOutputs:
        // A master that has not read the outputs yet sends two mask bytes; a controller with
        // a one-byte mask keeps the low byte.
        if (data.empty() || data.size() > 2) {
            return std::nullopt;
        }
        if (config_.outputBytes > 1 && data.size() == 2) {
            config_.outputs = static_cast<std::uint16_t>(data[0] | (data[1] << 8));
        } else {
            config_.outputs = static_cast<std::uint16_t>((config_.outputs & 0xFF00) | data[0]);
        }
        if (config_.outputBytes == 1) {
            config_.outputs &= 0x00FF;
        }
        return out;
    case cmd::kWriteWeightPoint: {
        if (data.size() != 7 || data[0] >= kWeightPoints) {
            return std::nullopt;
        }
        const auto low = ReadBcd(&data[1], 3);
        const auto high = ReadBcd(&data[4], 3);
        if (!low || !high) {
            return std::nullopt;
        }
        config_.points[data[0]] = {static_cast<std::uint32_t>(*low),
                                   static_cast<std::uint32_t>(*high)};
        return out;
    }
    case cmd::kWriteDosing:
        if (data.size() != 1) {
            return std::nullopt;
        }
        config_.dosing = data[0];
        out.push_back(config_.dosing);
        return out;
    default:
        return std::nullopt;
    }
}

} // namespace vemox::sim
