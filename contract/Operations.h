// The eight item operations. An item stores its operation as the caption text; every reader
// compares that text with the captions here, character for character.
#pragma once

#include "platform/Types.h"

#include <cstdint>
#include <string_view>

namespace vemox {

enum class Operation : std::int8_t {
    None = -1,
    Counter = 0,        // "Счетчик"
    DigitalInputs = 1,  // "Дискретные входы"
    DigitalOutputs = 2, // "Дискретные выходы"
    WeightPoints = 3,   // "Весовые точки"
    NetWeight = 4,      // "Вес Нетто"
    GrossWeight = 5,    // "Вес Брутто"
    State = 6,          // "Состояние"
    DosingControl = 7,  // "Управление дозированием"
};

struct OperationInfo {
    Operation operation;
    std::u16string_view caption;
    VARTYPE canonicalType;
    std::uint32_t accessRights;
    std::int32_t parameterProperty; // first parameter record, 0 when the operation has none
};

constexpr int kOperationCount = 8;

// In the order of the item page's list.
const OperationInfo& OperationAt(int index) noexcept;
// The operation whose caption equals the text exactly; nullptr when none does.
const OperationInfo* FindOperation(std::u16string_view caption) noexcept;
Operation OperationOf(std::u16string_view caption) noexcept;
// The caption an item stores for the operation; empty for None.
std::u16string_view CaptionOf(Operation operation) noexcept;

} // namespace vemox
