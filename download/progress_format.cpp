#include "download/progress_format.h"

#include <cstdio>

std::string FormatByteSize(int64_t bytes) {
    char text[64];
    const double b = static_cast<double>(bytes);
    if (bytes < 1024) {
        std::snprintf(text, sizeof(text), "%lld", static_cast<long long>(bytes));
    } else if (bytes < 1048576LL) {
        std::snprintf(text, sizeof(text), "%.1fK", b / 1024.0);
    } else if (bytes < 1073741824LL) {
        std::snprintf(text, sizeof(text), "%.1fM", b / 1048576.0);
    } else if (bytes < 1099511627776LL) {
        std::snprintf(text, sizeof(text), "%.1fG", b / 1073741824.0);
    } else {
        std::snprintf(text, sizeof(text), "%.1fT", b / 1099511627776.0);
    }
    return text;
}

uint32_t ElapsedMilliseconds(const platform::SystemTime& later,
                             const platform::SystemTime& earlier) {
    const int64_t diff =
        platform::SystemTimeToFileTime(later) - platform::SystemTimeToFileTime(earlier);
    if (diff <= 0) return 0;
    return static_cast<uint32_t>(diff / 10000);
}
