#include "sim/Crc8.h"

namespace vemox::sim {

// Plain table-less division: the register is XORed with each byte and then shifted out bit by
// bit. Running the check over a body that ends with its own checksum leaves 0.
std::uint8_t Crc8(const std::uint8_t* data, std::size_t size) {
    constexpr std::uint8_t poly = 0x69;
    std::uint8_t reg = 0;
    for (std::size_t i = 0; i < size; ++i) {
        reg ^= data[i];
        for (int bit = 0; bit < 8; ++bit) {
            const bool top = (reg & 0x80) != 0;
            reg = static_cast<std::uint8_t>(reg << 1);
            if (top) {
                reg ^= poly;
            }
        }
    }
    return reg;
}

} // namespace vemox::sim
