// Packed BCD as the controllers send numbers: least significant byte first, the low nibble
// holding the lower digit of each byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace vemox::sim {

// Appends `width` bytes holding the lowest 2*width decimal digits of `value`.
inline void AppendBcd(std::vector<std::uint8_t>& out, std::uint64_t value, std::size_t width) {
    for (std::size_t i = 0; i < width; ++i) {
        const auto low = static_cast<std::uint8_t>(value % 10);
        const auto high = static_cast<std::uint8_t>((value / 10) % 10);
        out.push_back(static_cast<std::uint8_t>(low | (high << 4)));
        value /= 100;
    }
}

// A controller refuses a number with a nibble above 9 rather than guess what was meant.
inline std::optional<std::uint64_t> ReadBcd(const std::uint8_t* data, std::size_t width) {
    std::uint64_t value = 0;
    for (std::size_t i = width; i-- > 0;) {
        const unsigned low = data[i] & 0x0Fu;
        const unsigned high = data[i] >> 4;
        if (low > 9 || high > 9) {
            return std::nullopt;
        }
        value = value * 100 + high * 10 + low;
    }
    return value;
}

} // namespace vemox::sim
