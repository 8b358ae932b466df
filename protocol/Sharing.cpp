#include "protocol/Sharing.h"

#include "config/Operations.h"
#include "driver/Constants.h"
#include "driver/Globals.h"
#include "platform/Com.h"
#include "platform/VariantConvert.h"
#include "protocol/Request.h"

#include <functional>

namespace vemox {

namespace {

constexpr std::int32_t kHighestPort = 99;

} // namespace

std::size_t ShareKeyHash::operator()(const ShareKey& key) const noexcept {
    std::size_t h = std::hash<std::u16string>{}(key.operation);
    const std::uint64_t packed = (static_cast<std::uint64_t>(key.unit) << 32) |
                                 (static_cast<std::uint64_t>(key.port & 0xFF) << 24) |
                                 (static_cast<std::uint64_t>(key.kind) << 16) |
                                 (static_cast<std::uint64_t>(key.network) << 8) | key.parameter;
    h ^= std::hash<std::uint64_t>{}(packed) + 0x9E3779B97F4A7C15ull + (h << 6) + (h >> 2);
    return h;
}

bool ReadPortNumber(PItemProperties nodeProperties, std::int32_t& port) {
    platform::Variant value;
    if (!GetProperty(kPropComPort, nodeProperties, value.get())) {
        return false;
    }
    const double number = platform::VariantToDouble(value.get());
    if (number < 0 || number > kHighestPort) {
        return false;
    }
    port = platform::VariantToInt32(value.get());
    return true;
}

bool ReadShareKey(const TQueuedTask& task, ShareKey& key) noexcept {
    if (!IsReadTask(task.Task)) {
        return false;
    }
    try {
        key.kind = task.Task;
        if (!ReadPortNumber(task.ptrNodeProperties, key.port)) {
            return false;
        }
        const Addressing addressing = ReadAddressing(task.ptrNodeProperties);
        key.network = addressing.network;
        key.unit = addressing.network ? addressing.address : addressing.serial;
        key.operation = ReadOperationText(task.ptrItemProperties);
        switch (OperationOf(key.operation)) {
        case Operation::Counter:
            key.parameter = ReadByteProperty(task.ptrItemProperties, kPropCounter);
            break;
        case Operation::WeightPoints:
            key.parameter = ReadByteProperty(task.ptrItemProperties, kPropWeightPoint);
            break;
        default:
            key.parameter = 0;
            break;
        }
        return true;
    } catch (...) {
        return false;
    }
}

} // namespace vemox
