#include "contract/Operations.h"

#include "contract/Constants.h"

namespace vemox {
namespace {

constexpr VARTYPE kR8 = 5;
constexpr VARTYPE kBool = 11;
constexpr VARTYPE kUI1 = 17;
constexpr VARTYPE kDate = 7;

const OperationInfo kOperations[kOperationCount] = {
    {Operation::Counter, u"Счетчик", kR8, kAccessRead, kPropCounter},
    {Operation::DigitalInputs, u"Дискретные входы", kBool, kAccessRead, kPropDigitalInput},
    {Operation::DigitalOutputs, u"Дискретные выходы", kBool, kAccessReadWrite, kPropDigitalOutput},
    {Operation::WeightPoints, u"Весовые точки", kR8, kAccessReadWrite, kPropWeightPoint},
    {Operation::NetWeight, u"Вес Нетто", kR8, kAccessRead, 0},
    {Operation::GrossWeight, u"Вес Брутто", kR8, kAccessRead, 0},
    {Operation::State, u"Состояние", kBool, kAccessRead, kPropStateBit},
    {Operation::DosingControl, u"Управление дозированием", kUI1, kAccessReadWrite, 0},
    {Operation::LinkDiagnostics, u"Диагностика связи", kR8, kAccessRead, kPropLinkFigure},
};

const LinkFigureInfo kLinkFigures[kLinkFigureCount] = {
    {LinkFigure::LinkUp, u"Связь есть", kBool, kAccessRead},
    {LinkFigure::Replies, u"Ответов получено", kR8, kAccessRead},
    {LinkFigure::NoAnswer, u"Нет ответа", kR8, kAccessRead},
    {LinkFigure::ChecksumErrors, u"Ошибок контрольной суммы", kR8, kAccessRead},
    {LinkFigure::Mismatches, u"Ответов не по запросу", kR8, kAccessRead},
    {LinkFigure::Repeats, u"Повторов", kR8, kAccessRead},
    {LinkFigure::RefusedWrites, u"Ошибок записи в порт", kR8, kAccessRead},
    {LinkFigure::GoodWrites, u"Записей выполнено", kR8, kAccessRead},
    {LinkFigure::FailedWrites, u"Записей не выполнено", kR8, kAccessRead},
    {LinkFigure::LastReplyMs, u"Время ответа, мс", kR8, kAccessRead},
    {LinkFigure::MinReplyMs, u"Мин. время ответа, мс", kR8, kAccessRead},
    {LinkFigure::MaxReplyMs, u"Макс. время ответа, мс", kR8, kAccessRead},
    {LinkFigure::LastGoodReply, u"Время последнего ответа", kDate, kAccessRead},
    {LinkFigure::Reset, u"Сбросить счетчики", kBool, kAccessReadWrite},
};

} // namespace

const OperationInfo& OperationAt(int index) noexcept {
    return kOperations[index];
}

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

const LinkFigureInfo* FindLinkFigure(std::int32_t index) noexcept {
    return index >= 0 && index < kLinkFigureCount ? &kLinkFigures[index] : nullptr;
}

const LinkFigureInfo* FindLinkFigure(std::u16string_view caption) noexcept {
    for (const auto& info : kLinkFigures) {
        if (info.caption == caption) {
            return &info;
        }
    }
    return nullptr;
}

ItemType ItemTypeOf(const OperationInfo& operation, std::int32_t linkFigure) noexcept {
    if (operation.operation == Operation::LinkDiagnostics) {
        if (const LinkFigureInfo* figure = FindLinkFigure(linkFigure)) {
            return {figure->canonicalType, figure->accessRights};
        }
    }
    return {operation.canonicalType, operation.accessRights};
}

std::u16string_view CaptionOf(Operation operation) noexcept {
    return operation == Operation::None ? std::u16string_view{}
                                        : OperationAt(static_cast<int>(operation)).caption;
}

} // namespace vemox
