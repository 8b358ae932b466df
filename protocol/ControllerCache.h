// What the driver remembers of a controller between exchanges: the state that writes of the
// outputs and of a weight point send back whole, and the weight format that scales values.
#pragma once

#include <cstdint>
#include <vector>

namespace vemox {

struct TWeightPoint {
    std::uint8_t Number;
    std::uint32_t LowLevel;
    std::uint32_t HighLevel;
};

// A write may only send what was read: each part of the cache says whether it holds the
// controller's state. A weight point is listed only once both its levels are known.
struct TSaveData {
    std::uint16_t DigitalOutput = 0;
    std::uint8_t SizeDigitalOutput = 2;
    std::vector<TWeightPoint> WeightPoint;
    std::uint8_t WeightParams = 0;
    bool OutputsKnown = false;      // DigitalOutput and SizeDigitalOutput
    bool WeightParamsKnown = false; // WeightParams
};

// The status byte of the last weight the controller reported.
std::uint8_t GetWeightParams(const TSaveData& cache) noexcept;
// Raw level of a cached weight point, 0 when the point was never read.
std::uint32_t GetWeightPoint(const TSaveData& cache, std::uint8_t number, bool upper) noexcept;

} // namespace vemox
