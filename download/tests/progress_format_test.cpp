#include "download/progress_format.h"

#include <gtest/gtest.h>

namespace {

TEST(FormatByteSize, PicksTheUnitAtEachBoundary) {
    struct Case {
        int64_t bytes;
        const char* text;
    } cases[] = {
        {0, "0"},
        {1023, "1023"},
        {1024, "1.0K"},
        {1536, "1.5K"},
        {1048575, "1024.0K"},
        {1048576, "1.0M"},
        {1073741823, "1024.0M"},
        {1073741824, "1.0G"},
        {1099511627775LL, "1024.0G"},
        {1099511627776LL, "1.0T"},
        {5LL << 50, "5120.0T"},
    };
    for (const Case& c : cases) EXPECT_EQ(FormatByteSize(c.bytes), c.text) << c.bytes;
}

TEST(ElapsedMilliseconds, AcrossDayAndYearBoundaries) {
    platform::SystemTime earlier;
    earlier.year = 2026, earlier.month = 12, earlier.day = 31;
    earlier.hour = 23, earlier.minute = 59, earlier.second = 59, earlier.milliseconds = 900;
    platform::SystemTime later;
    later.year = 2027, later.month = 1, later.day = 1, later.milliseconds = 150;
    EXPECT_EQ(ElapsedMilliseconds(later, earlier), 250u);
    EXPECT_EQ(ElapsedMilliseconds(earlier, earlier), 0u);
    EXPECT_EQ(ElapsedMilliseconds(earlier, later), 0u);  // clock went backwards
}

}  // namespace
