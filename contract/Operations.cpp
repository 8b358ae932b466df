#include "contract/Operations.h"

#include "contract/Constants.h"

namespace vemox {
namespace {

constexpr VARTYPE kR8 = 5;
constexpr VARTYPE kBool = 11;
constexpr VARTYPE kUI1 = 17;

const OperationInfo kOperations[kOperationCount] = {
    {Operation::Counter, u"Счетчик", kR8, kAccessRead, kPropCounter},
    {Operation::DigitalInputs, u"Дискретные входы", kBool, kAccessRead, kPropDigitalInput},
    {Operation::DigitalOutputs, u"Дискретные выходы", kBool, kAccessReadWrite, kPropDigitalOutput},
    {Operation::WeightPoints, u"Весовые точки", kR8, kAccessReadWrite, kPropWeightPoint},
    {Operation::NetWeight, u"Вес Нетто", kR8, kAccessRead, 0},
    {Operation::GrossWeight, u"Вес Брутто", kR8, kAccessRead, 0},
    {Operation::State, u"Состояние", kBool, kAccessRead, kPropStateBit},
    {Operation::DosingControl, u"Управление дозированием", kUI1, kAccessReadWrite, 0},
};

} // namespace

const OperationInfo& OperationAt(int index) noexcept { return kOperations[index]; }

const OperationInfo* FindOperation(std::u16string_view caption) noexcept {
    for (const auto& info : kOperations) {
        if (info.caption == caption) {
            return &info;
        }
    }
    return nullptr;
}

Operation OperationOf(std::u16string_view caption) noexcept {
    const OperationInfo* info = FindOperation(caption);
    return info ? info->operation : Operation::None;
}

std::u16string_view CaptionOf(Operation operation) noexcept {
    return operation == Operation::None ? std::u16string_view{}
                                        : OperationAt(static_cast<int>(operation)).caption;
}

} // namespace vemox
