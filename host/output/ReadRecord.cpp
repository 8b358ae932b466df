#include "host/output/ReadRecord.h"

#include "host/output/Report.h"
#include "platform/DateTime.h"
#include "platform/Text.h"
#include "platform/VariantConvert.h"

#include <cstdio>

namespace vemox::host {
namespace {

bool IsWholeType(VARTYPE type) {
    switch (type) {
    case VT_I1:
    case VT_I2:
    case VT_I4:
    case VT_I8:
    case VT_UI1:
    case VT_UI2:
    case VT_UI4:
    case VT_UI8:
    case VT_INT:
    case VT_UINT:
        return true;
    default:
        return false;
    }
}

std::string DecimalText(double value) {
    const platform::Variant number = platform::Variant::Double(value);
    return platform::Utf16ToUtf8(platform::VariantToText(number.get()));
}

} // namespace

ReadRecord RecordOf(const SessionItem& item, std::optional<std::int64_t> replyMs) {
    const OPCITEMSTATE& state = item.host.Shown();
    ReadRecord record;
    record.item = item.config.FullName();
    record.node = item.config.node;
    record.operation = platform::Utf16ToUtf8(item.config.operation->caption);
    record.completed = item.host.EverCompleted();
    record.good = IsGood(item);
    if (record.good) {
        record.value = ValueOf(state.vDataValue);
        record.replyMs = replyMs;
    }
    record.quality = state.wQuality;
    record.qualityText = record.completed          ? QualityWords(state.wQuality)
                         : item.config.WriteOnly() ? "write-only"
                                                   : "waiting";
    record.outcome = record.completed ? OutcomeText(item.host.LastResult()) : "no outcome";
    record.timeTicks = platform::FileTimeTicks(state.ftTimeStamp);
    record.counts = item.host.Counts();
    return record;
}

ReadRecord RecordOf(const SessionItem& item) {
    return RecordOf(item, item.replyTimeMs >= 0 ? std::optional(item.replyTimeMs) : std::nullopt);
}

std::optional<ReadValue> ValueOf(const VARIANT& value) {
    switch (value.vt) {
    case VT_EMPTY:
    case VT_NULL:
        return std::nullopt;
    case VT_BOOL:
        return ReadValue(value.boolVal != 0);
    case VT_DATE:
        return value.date == 0 ? std::nullopt
                               : std::optional(ReadValue(TimeStampText(DateTicks(value.date))));
    case VT_R4:
    case VT_R8: {
        // A negated zero weight is still zero to the operator.
        const double real = platform::VariantToDouble(value);
        return ReadValue(real == 0.0 ? 0.0 : real);
    }
    default:
        break;
    }
    try {
        if (IsWholeType(value.vt)) {
            return ReadValue(platform::VariantToInt64(value));
        }
        return ReadValue(platform::Utf16ToUtf8(platform::VariantToText(value)));
    } catch (const platform::ConversionError&) {
        return ReadValue(std::string("?"));
    }
}

std::string TimeStampText(std::int64_t ticks) {
    if (ticks == 0) {
        return "-";
    }
    const platform::CivilTime t = platform::FileTimeTicksToCivil(ticks);
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", t.year, t.month, t.day,
                  t.hour, t.minute, t.second, t.millisecond);
    return text;
}

nlohmann::json TimeStampJson(std::int64_t ticks) {
    return ticks == 0 ? nlohmann::json(nullptr) : nlohmann::json(TimeStampText(ticks));
}

std::int64_t DateTicks(double date) {
    return date == 0 ? 0 : platform::CivilToFileTimeTicks(platform::SplitDateTime(date));
}

std::string ValueText(const std::optional<ReadValue>& value) {
    if (!value) {
        return "-";
    }
    if (const bool* flag = std::get_if<bool>(&*value)) {
        return *flag ? "true" : "false";
    }
    if (const std::int64_t* whole = std::get_if<std::int64_t>(&*value)) {
        return std::to_string(*whole);
    }
    if (const double* real = std::get_if<double>(&*value)) {
        return DecimalText(*real);
    }
    return std::get<std::string>(*value);
}

nlohmann::json ValueJson(const std::optional<ReadValue>& value) {
    if (!value) {
        return nullptr;
    }
    return std::visit([](const auto& held) { return nlohmann::json(held); }, *value);
}

} // namespace vemox::host
