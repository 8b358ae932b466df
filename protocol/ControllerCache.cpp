#include "protocol/ControllerCache.h"

namespace vemox {

std::uint8_t GetWeightParams(const TSaveData& cache) noexcept {
    return cache.WeightParams;
}

std::uint32_t GetWeightPoint(const TSaveData& cache, std::uint8_t number, bool upper) noexcept {
    for (const TWeightPoint& point : cache.WeightPoint) {
        if (point.Number == number) {
            return upper ? point.HighLevel : point.LowLevel;
        }
    }
    return 0;
}

} // namespace vemox
