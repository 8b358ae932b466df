// Calendar arithmetic on the two time forms the driver uses: the OLE date-time (days since
// 1899-12-30, fraction = time of day) inside, and FILETIME (100 ns since 1601-01-01) at the
// host boundary. Pure functions, no time zone.
#pragma once

#include "platform/Types.h"

#include <cstdint>

namespace vemox::platform {

struct CivilTime {
    int year = 1899;
    int month = 12;
    int day = 30;
    int hour = 0;
    int minute = 0;
    int second = 0;
    int millisecond = 0;
};

constexpr double kMillisecondsPerDay = 86400000.0;

// Splits a date-time into fields with millisecond resolution.
CivilTime SplitDateTime(double dateTime) noexcept;
double JoinDateTime(const CivilTime& time) noexcept;

std::int64_t CivilToFileTimeTicks(const CivilTime& time) noexcept;
CivilTime FileTimeTicksToCivil(std::int64_t ticks) noexcept;

inline std::int64_t FileTimeTicks(const FILETIME& ft) noexcept {
    return static_cast<std::int64_t>((static_cast<std::uint64_t>(ft.dwHighDateTime) << 32) |
                                     ft.dwLowDateTime);
}
inline FILETIME MakeFileTime(std::int64_t ticks) noexcept {
    FILETIME ft;
    ft.dwLowDateTime = static_cast<DWORD>(static_cast<std::uint64_t>(ticks) & 0xFFFFFFFFu);
    ft.dwHighDateTime = static_cast<DWORD>(static_cast<std::uint64_t>(ticks) >> 32);
    return ft;
}

// Days from 1970-01-01 for a proleptic Gregorian date, and back.
std::int64_t DaysFromCivil(int year, int month, int day) noexcept;
void CivilFromDays(std::int64_t days, int& year, int& month, int& day) noexcept;

} // namespace vemox::platform
