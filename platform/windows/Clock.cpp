#include "platform/Clock.h"
#include "platform/DateTime.h"

namespace vemox::platform {

double SystemLocalNow() {
    SYSTEMTIME st{};
    ::GetLocalTime(&st);
    CivilTime t;
    t.year = st.wYear;
    t.month = st.wMonth;
    t.day = st.wDay;
    t.hour = st.wHour;
    t.minute = st.wMinute;
    t.second = st.wSecond;
    t.millisecond = st.wMilliseconds;
    return JoinDateTime(t);
}

FILETIME SystemUtcNow() {
    FILETIME ft{};
    ::GetSystemTimeAsFileTime(&ft);
    return ft;
}

FILETIME LocalToUtc(const FILETIME& local) {
    FILETIME utc{};
    if (!::LocalFileTimeToFileTime(&local, &utc)) {
        return local;
    }
    return utc;
}

} // namespace vemox::platform
