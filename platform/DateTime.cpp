#include "platform/DateTime.h"

#include <cmath>

namespace vemox::platform {
namespace {
constexpr std::int64_t kDaysFrom1899To1970 = 25569;
constexpr std::int64_t kSecondsFrom1601To1970 = 11644473600;
constexpr std::int64_t kTicksPerMillisecond = 10000;
constexpr std::int64_t kMillisecondsPerDayInt = 86400000;
} // namespace

std::int64_t DaysFromCivil(int year, int month, int day) noexcept {
    const std::int64_t y = year - (month <= 2 ? 1 : 0);
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const std::int64_t yoe = y - era * 400;
    const std::int64_t mp = (month + 9) % 12;
    const std::int64_t doy = (153 * mp + 2) / 5 + day - 1;
    const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

void CivilFromDays(std::int64_t days, int& year, int& month, int& day) noexcept {
    days += 719468;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const std::int64_t doe = days - era * 146097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    year = static_cast<int>(yoe + era * 400 + (month <= 2 ? 1 : 0));
}

CivilTime SplitDateTime(double dateTime) noexcept {
    if (!std::isfinite(dateTime) || std::fabs(dateTime) > 2958466.0) {
        dateTime = 0;
    }
    // The whole part counts days, the fraction (taken as positive) the time of day.
    std::int64_t days = static_cast<std::int64_t>(std::trunc(dateTime));
    std::int64_t ms =
        std::llround(std::fabs(dateTime - std::trunc(dateTime)) * kMillisecondsPerDay);
    if (ms >= kMillisecondsPerDayInt) {
        ms -= kMillisecondsPerDayInt;
        days += 1;
    }
    CivilTime t;
    CivilFromDays(days - kDaysFrom1899To1970, t.year, t.month, t.day);
    t.hour = static_cast<int>(ms / 3600000);
    t.minute = static_cast<int>(ms / 60000 % 60);
    t.second = static_cast<int>(ms / 1000 % 60);
    t.millisecond = static_cast<int>(ms % 1000);
    return t;
}

double JoinDateTime(const CivilTime& t) noexcept {
    const auto days = DaysFromCivil(t.year, t.month, t.day) + kDaysFrom1899To1970;
    const auto ms = ((t.hour * 60 + t.minute) * 60 + t.second) * 1000 + t.millisecond;
    return static_cast<double>(days) + ms / kMillisecondsPerDay;
}

std::int64_t CivilToFileTimeTicks(const CivilTime& t) noexcept {
    const std::int64_t days = DaysFromCivil(t.year, t.month, t.day);
    const std::int64_t seconds = days * 86400 + t.hour * 3600 + t.minute * 60 + t.second;
    return (seconds + kSecondsFrom1601To1970) * 10000000 + t.millisecond * kTicksPerMillisecond;
}

CivilTime FileTimeTicksToCivil(std::int64_t ticks) noexcept {
    const std::int64_t totalMs = ticks / kTicksPerMillisecond - kSecondsFrom1601To1970 * 1000;
    std::int64_t days = totalMs / kMillisecondsPerDayInt;
    std::int64_t ms = totalMs % kMillisecondsPerDayInt;
    if (ms < 0) {
        ms += kMillisecondsPerDayInt;
        days -= 1;
    }
    CivilTime t;
    CivilFromDays(days, t.year, t.month, t.day);
    t.hour = static_cast<int>(ms / 3600000);
    t.minute = static_cast<int>(ms / 60000 % 60);
    t.second = static_cast<int>(ms / 1000 % 60);
    t.millisecond = static_cast<int>(ms % 1000);
    return t;
}

} // namespace vemox::platform
