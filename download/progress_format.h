// Figures of transfer progress: byte counts for the progress texts and elapsed time for
// the speed.
#pragma once

#include <cstdint>
#include <string>

#include "platform/system_time.h"

// "1023", "1.5K", "1.0M", "2.3G", "4.0T": below 1024 the plain count, then one decimal of
// the largest binary unit that keeps the value at or above 1.
std::string FormatByteSize(int64_t bytes);

// Milliseconds from `earlier` to `later`. A clock that went backwards gives 0 rather than
// a wrapped-around figure.
uint32_t ElapsedMilliseconds(const platform::SystemTime& later,
                             const platform::SystemTime& earlier);
