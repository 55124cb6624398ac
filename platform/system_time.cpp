#include "platform/system_time.h"

#include <sys/time.h>
#include <time.h>

namespace platform {
namespace {

// Days from 1970-01-01 to the given civil date (proleptic Gregorian calendar).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

SystemTime FromTm(const struct tm& tm, long microseconds) {
    SystemTime t;
    t.year = static_cast<uint16_t>(tm.tm_year + 1900);
    t.month = static_cast<uint16_t>(tm.tm_mon + 1);
    t.dayOfWeek = static_cast<uint16_t>(tm.tm_wday);
    t.day = static_cast<uint16_t>(tm.tm_mday);
    t.hour = static_cast<uint16_t>(tm.tm_hour);
    t.minute = static_cast<uint16_t>(tm.tm_min);
    t.second = static_cast<uint16_t>(tm.tm_sec > 59 ? 59 : tm.tm_sec);
    t.milliseconds = static_cast<uint16_t>(microseconds / 1000);
    return t;
}

}  // namespace

SystemTime GetSystemTimeNow() {
    struct timeval tv;
    gettimeofday(&tv, nullptr);
    struct tm tm;
    gmtime_r(&tv.tv_sec, &tm);
    return FromTm(tm, tv.tv_usec);
}

SystemTime GetLocalTimeNow() {
    struct timeval tv;
    gettimeofday(&tv, nullptr);
    struct tm tm;
    localtime_r(&tv.tv_sec, &tm);
    return FromTm(tm, tv.tv_usec);
}

int64_t SystemTimeToFileTime(const SystemTime& t) {
    constexpr int64_t kDaysFrom1601To1970 = 134774;
    const int64_t days = DaysFromCivil(t.year, t.month, t.day) + kDaysFrom1601To1970;
    const int64_t ms =
        ((days * 24 + t.hour) * 60 + t.minute) * 60000 + t.second * 1000 + t.milliseconds;
    return ms * 10000;
}

}  // namespace platform
