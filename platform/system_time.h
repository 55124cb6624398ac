// A calendar time split into fields, as the download progress and the engine's logs use it.
#pragma once

#include <cstdint>

namespace platform {

struct SystemTime {
    uint16_t year = 1601;    // 1601..30827
    uint16_t month = 1;      // 1..12
    uint16_t dayOfWeek = 0;  // 0 = Sunday
    uint16_t day = 1;        // 1..31
    uint16_t hour = 0;
    uint16_t minute = 0;
    uint16_t second = 0;
    uint16_t milliseconds = 0;
};

// The current time in UTC.
SystemTime GetSystemTimeNow();
// The current time in the local time zone.
SystemTime GetLocalTimeNow();

// 100-nanosecond intervals since 1601-01-01 00:00 (the file-time scale). The fields are
// taken as they are; an out-of-range field gives a correspondingly shifted result.
int64_t SystemTimeToFileTime(const SystemTime& t);

}  // namespace platform
