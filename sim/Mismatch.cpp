#include "sim/Mismatch.h"

namespace vemox::sim {
namespace {

constexpr std::uint64_t kBitsPerCharacter = 10; // start, eight data bits, stop

// The level of the line at the start of sent bit `k`: low for a start bit, the data bit, high
// for a stop bit and for the idle line after the last byte.
bool Level(const Bytes& sent, std::uint64_t k) {
    if (k >= sent.size() * kBitsPerCharacter) {
        return true;
    }
    const std::uint64_t position = k % kBitsPerCharacter;
    if (position == 0) {
        return false;
    }
    if (position == kBitsPerCharacter - 1) {
        return true;
    }
    return ((sent[k / kBitsPerCharacter] >> (position - 1)) & 1u) != 0;
}

} // namespace

Bytes HeardAt(const Bytes& sent, std::uint32_t sentBaud, std::uint32_t heardBaud) {
    if (sentBaud == heardBaud || sentBaud == 0 || heardBaud == 0) {
        return sent;
    }
    // Time in units of 1 / (2 * sentBaud * heardBaud) s: a sent bit lasts 2 * heardBaud units,
    // a received bit 2 * sentBaud, and the middle of a received bit falls on a whole unit.
    const std::uint64_t sentBit = 2ULL * heardBaud;
    const std::uint64_t heardBit = 2ULL * sentBaud;
    const std::uint64_t sentBits = sent.size() * kBitsPerCharacter;
    const auto levelAt = [&](std::uint64_t unit) { return Level(sent, unit / sentBit); };

    Bytes heard;
    std::uint64_t k = 0; // the sent bit at whose start the next falling edge is looked for
    while (k < sentBits) {
        // Edges fall only on sent bit boundaries.
        if (Level(sent, k) || (k > 0 && !Level(sent, k - 1))) {
            ++k;
            continue;
        }
        const std::uint64_t start = k * sentBit;
        std::uint8_t byte = 0;
        for (unsigned bit = 0; bit < 8; ++bit) {
            const std::uint64_t middle = start + heardBit * (bit + 1) + heardBit / 2;
            byte = static_cast<std::uint8_t>(byte | (levelAt(middle) ? 1u << bit : 0u));
        }
        heard.push_back(byte);
        // The receiver looks for the next start bit once it has sampled the stop bit.
        const std::uint64_t stop = start + heardBit * (kBitsPerCharacter - 1) + heardBit / 2;
        k = stop / sentBit + 1;
    }
    return heard;
}

} // namespace vemox::sim
