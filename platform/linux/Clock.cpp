#include "platform/Clock.h"
#include "platform/DateTime.h"

#include <ctime>

namespace vemox::platform {

double SystemLocalNow() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    tm local{};
    localtime_r(&now.tv_sec, &local);
    CivilTime t;
    t.year = local.tm_year + 1900;
    t.month = local.tm_mon + 1;
    t.day = local.tm_mday;
    t.hour = local.tm_hour;
    t.minute = local.tm_min;
    t.second = local.tm_sec;
    t.millisecond = static_cast<int>(now.tv_nsec / 1000000);
    return JoinDateTime(t);
}

FILETIME SystemUtcNow() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    const std::int64_t ticks =
        (static_cast<std::int64_t>(now.tv_sec) + 11644473600LL) * 10000000LL + now.tv_nsec / 100;
    return MakeFileTime(ticks);
}

FILETIME LocalToUtc(const FILETIME& local) {
    const std::int64_t ticks = FileTimeTicks(local);
    const CivilTime t = FileTimeTicksToCivil(ticks);
    tm fields{};
    fields.tm_year = t.year - 1900;
    fields.tm_mon = t.month - 1;
    fields.tm_mday = t.day;
    fields.tm_hour = t.hour;
    fields.tm_min = t.minute;
    fields.tm_sec = t.second;
    fields.tm_isdst = -1;
    const time_t utcSeconds = mktime(&fields);
    const std::int64_t subSecond = ticks % 10000000LL;
    return MakeFileTime((static_cast<std::int64_t>(utcSeconds) + 11644473600LL) * 10000000LL +
                        subSecond);
}

} // namespace vemox::platform
