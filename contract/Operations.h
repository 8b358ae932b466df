// The eight item operations. An item stores its operation as the caption text; every reader
// compares that text with the captions here, character for character.
#pragma once

#include "platform/Types.h"

#include <cstdint>
#include <string_view>

namespace vemox {

enum class Operation : std::int8_t {
    None = -1,
    Counter = 0,         // "Счетчик"
    DigitalInputs = 1,   // "Дискретные входы"
    DigitalOutputs = 2,  // "Дискретные выходы"
    WeightPoints = 3,    // "Весовые точки"
    NetWeight = 4,       // "Вес Нетто"
    GrossWeight = 5,     // "Вес Брутто"
    State = 6,           // "Состояние"
    DosingControl = 7,   // "Управление дозированием"
    LinkDiagnostics = 8, // "Диагностика связи": the driver's own figures of its link
};

struct OperationInfo {
    Operation operation;
    std::u16string_view caption;
    VARTYPE canonicalType;
    std::uint32_t accessRights;
    std::int32_t parameterProperty; // first parameter record, 0 when the operation has none
};

constexpr int kOperationCount = 9;

// In the order of the item page's list.
const OperationInfo& OperationAt(int index) noexcept;
// The operation whose caption equals the text exactly; nullptr when none does.
const OperationInfo* FindOperation(std::u16string_view caption) noexcept;
Operation OperationOf(std::u16string_view caption) noexcept;
// The caption an item stores for the operation; empty for None.
std::u16string_view CaptionOf(Operation operation) noexcept;

// What a diagnostic item reads of its controller's link, by the number it stores (property
// 5011). Counts and times are the driver's own, kept per controller; nothing is asked of the
// controller to read them.
enum class LinkFigure : std::int8_t {
    LinkUp = 0,         // up after a good reply, down after a request failed for good
    Replies = 1,        // good replies
    NoAnswer = 2,       // requests that failed for good with no answer
    ChecksumErrors = 3, // replies with a wrong checksum
    Mismatches = 4,     // frames that did not match the request (address, echo, length)
    Repeats = 5,        // requests written again
    RefusedWrites = 6,  // writes the port service refused
    GoodWrites = 7,     // write tasks that completed good
    FailedWrites = 8,   // write tasks that failed
    LastReplyMs = 9,    // from the write to the complete reply, the last one
    MinReplyMs = 10,
    MaxReplyMs = 11,
    LastGoodReply = 12, // UTC date and time of the last good reply
    Reset = 13,         // writing true clears the controller's figures
};

struct LinkFigureInfo {
    LinkFigure figure;
    std::u16string_view caption;
    VARTYPE canonicalType;
    std::uint32_t accessRights;
};

constexpr int kLinkFigureCount = 14;

// In the order of the item page's list; nullptr for a number outside it.
const LinkFigureInfo* FindLinkFigure(std::int32_t index) noexcept;
const LinkFigureInfo* FindLinkFigure(std::u16string_view caption) noexcept;

// The data type and access rights an item carries: its operation's, and for a diagnostic item
// those of the figure it reads.
struct ItemType {
    VARTYPE canonicalType;
    std::uint32_t accessRights;
};
ItemType ItemTypeOf(const OperationInfo& operation, std::int32_t linkFigure) noexcept;

} // namespace vemox
