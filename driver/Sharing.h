// When one request can serve several tasks of a batch: the same kind of read, on the same
// port, of the same controller, for the same operation and, where the reply depends on it,
// the same counter or weight point. Tasks are grouped by this key, so that a batch is sorted
// in one pass instead of comparing every task with every later one.
#pragma once

#include "driver/Registry.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace vemox {

struct ShareKey {
    TTask kind = tNone;
    std::int32_t port = 0;
    bool network = true;
    std::uint32_t unit = 0;     // network address or serial number, whichever names it
    std::u16string operation;   // the caption, compared character for character
    std::uint8_t parameter = 0; // counter or weight point number; 0 for other operations

    bool operator==(const ShareKey& other) const noexcept {
        return kind == other.kind && port == other.port && network == other.network &&
               unit == other.unit && parameter == other.parameter && operation == other.operation;
    }
};

struct ShareKeyHash {
    std::size_t operator()(const ShareKey& key) const noexcept;
};

// A task's key; false when it shares with no other: every write goes out with its own value,
// and a task whose port is missing or whose properties do not convert is never attached.
bool ReadShareKey(const TQueuedTask& task, ShareKey& key) noexcept;

} // namespace vemox
