// The controllers' checksum, computed by the simulator's own code so that a mistake in the
// driver's codec cannot be mirrored here: CRC-8, polynomial 0x69, register starting at 0,
// most significant bit first, nothing reflected, no final XOR.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vemox::sim {

std::uint8_t Crc8(const std::uint8_t* data, std::size_t size);

inline std::uint8_t Crc8(const std::vector<std::uint8_t>& bytes) {
    return Crc8(bytes.data(), bytes.size());
}

} // namespace vemox::sim
