// Line-rate arithmetic. A byte in 8N1 framing takes ten bit times on the wire; a controller
// starts its reply a turnaround time after the last request byte has arrived.
#pragma once

#include <chrono>
#include <cstdint>

namespace vemox::sim {

// Simulator time: nanoseconds since the line came up. Everything in the model runs on it, so
// tests and benchmarks drive the clock themselves.
using SimTime = std::chrono::nanoseconds;

struct LineTiming {
    std::uint32_t baud = 0; // 0: bytes go out as fast as the I/O layer can write them
    SimTime turnaround{0};

    // Moment the byte at `index` of a burst starting at `start` is due. Computed from the index
    // rather than by adding rounded character times, so long replies do not drift.
    SimTime ByteDue(SimTime start, std::uint64_t index) const {
        if (baud == 0) {
            return start;
        }
        return start +
               SimTime(static_cast<std::int64_t>(index * kBitsPerByte * 1'000'000'000ULL / baud));
    }

    // Time one byte occupies the line.
    SimTime CharTime() const { return ByteDue(SimTime{0}, 1); }

    static constexpr std::uint64_t kBitsPerByte = 10; // start bit, 8 data bits, stop bit
};

} // namespace vemox::sim
