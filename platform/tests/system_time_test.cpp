#include "platform/system_time.h"

#include <gtest/gtest.h>

namespace platform {
namespace {

TEST(SystemTime, FileTimeScale) {
    SystemTime epoch1601;  // defaults to 1601-01-01 00:00:00.000
    EXPECT_EQ(SystemTimeToFileTime(epoch1601), 0);
    SystemTime unixEpoch;
    unixEpoch.year = 1970;
    EXPECT_EQ(SystemTimeToFileTime(unixEpoch), 116444736000000000LL);
    SystemTime leap = unixEpoch;
    leap.year = 2024, leap.month = 3, leap.day = 1, leap.milliseconds = 5;
    SystemTime dayBefore = leap;
    dayBefore.month = 2, dayBefore.day = 29;
    EXPECT_EQ(SystemTimeToFileTime(leap) - SystemTimeToFileTime(dayBefore), 864000000000LL);
}

TEST(SystemTime, NowIsPlausible) {
    SystemTime now = GetSystemTimeNow();
    EXPECT_GE(now.year, 2020);
    EXPECT_LE(now.month, 12);
    EXPECT_LT(now.milliseconds, 1000);
}

}  // namespace
}  // namespace platform
