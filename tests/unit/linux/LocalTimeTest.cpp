// Local-to-UTC conversion under fixed time zones. The C library reads TZ, so each case sets
// it for its own duration and puts the machine's zone back afterwards.
#include "platform/Clock.h"
#include "platform/DateTime.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

namespace vemox::platform {
namespace {

class ZoneGuard {
public:
    explicit ZoneGuard(const char* zone) {
        if (const char* old = std::getenv("TZ")) {
            saved_ = old;
        }
        ::setenv("TZ", zone, 1);
        ::tzset();
    }
    ~ZoneGuard() {
        if (saved_) {
            ::setenv("TZ", saved_->c_str(), 1);
        } else {
            ::unsetenv("TZ");
        }
        ::tzset();
    }
    ZoneGuard(const ZoneGuard&) = delete;
    ZoneGuard& operator=(const ZoneGuard&) = delete;

private:
    std::optional<std::string> saved_;
};

FILETIME At(int year, int month, int day, int hour, int minute, int second, int ms) {
    CivilTime t;
    t.year = year;
    t.month = month;
    t.day = day;
    t.hour = hour;
    t.minute = minute;
    t.second = second;
    t.millisecond = ms;
    return MakeFileTime(CivilToFileTimeTicks(t));
}

struct ZoneCase {
    const char* zone;
    FILETIME local;
    FILETIME utc;
};

TEST(LocalToUtc, AppliesTheZoneOffsetAndItsSummerTime) {
    const ZoneCase cases[] = {
        // Three hours east of Greenwich all year; the milliseconds must survive.
        {"MSK-3", At(2024, 6, 1, 12, 0, 0, 123), At(2024, 6, 1, 9, 0, 0, 123)},
        // Crossing midnight and the year backwards.
        {"MSK-3", At(2024, 1, 1, 1, 30, 15, 999), At(2023, 12, 31, 22, 30, 15, 999)},
        // West of Greenwich the day moves forward.
        {"EST5", At(2024, 2, 28, 22, 0, 0, 0), At(2024, 2, 29, 3, 0, 0, 0)},
        // Central European zone: winter is one hour ahead, summer two.
        {"CET-1CEST,M3.5.0,M10.5.0/3", At(2024, 1, 15, 12, 0, 0, 0), At(2024, 1, 15, 11, 0, 0, 0)},
        {"CET-1CEST,M3.5.0,M10.5.0/3", At(2024, 7, 15, 12, 0, 0, 500),
         At(2024, 7, 15, 10, 0, 0, 500)},
        {"UTC0", At(1999, 12, 31, 23, 59, 59, 1), At(1999, 12, 31, 23, 59, 59, 1)},
    };
    for (const ZoneCase& c : cases) {
        const ZoneGuard zone(c.zone);
        const FILETIME utc = LocalToUtc(c.local);
        EXPECT_EQ(FileTimeTicks(utc), FileTimeTicks(c.utc))
            << c.zone << " local ticks " << FileTimeTicks(c.local);
    }
}

} // namespace
} // namespace vemox::platform
