#include "driver/Sharing.h"

#include "config/PropertySets.h"
#include "contract/Constants.h"
#include "contract/Operations.h"
#include "protocol/Request.h"

#include <functional>

namespace vemox {

std::size_t ShareKeyHash::operator()(const ShareKey& key) const noexcept {
    std::size_t h = std::hash<std::u16string>{}(key.operation);
    const std::uint64_t packed = (static_cast<std::uint64_t>(key.unit) << 32) |
                                 (static_cast<std::uint64_t>(key.port & 0xFF) << 24) |
                                 (static_cast<std::uint64_t>(key.kind) << 16) |
                                 (static_cast<std::uint64_t>(key.network) << 8) | key.parameter;
    h ^= std::hash<std::uint64_t>{}(packed) + 0x9E3779B97F4A7C15ull + (h << 6) + (h >> 2);
    return h;
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
        key.parameter = ReadRequestParameter(OperationOf(key.operation), task.ptrItemProperties);
        return true;
    } catch (...) {
        return false;
    }
}

} // namespace vemox
