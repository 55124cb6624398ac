#include "engine/log_format.h"

#include <cstdio>
#include <cstring>

namespace engine {

std::string FormatLogText(const char* format, va_list args) {
    char buffer[kLogTextLimit];
    const int n = std::vsnprintf(buffer, sizeof buffer, format, args);
    if (n < 0) return {};
    return std::string(buffer, std::min(static_cast<size_t>(n), sizeof buffer - 1));
}

std::string LogTimeStamp(const platform::SystemTime& t) {
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const char* month = t.month >= 1 && t.month <= 12 ? kMonths[t.month - 1] : "???";
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "[%s %02u %02u:%02u:%02u] ", month, t.day % 100u,
                  t.hour % 100u, t.minute % 100u, t.second % 100u);
    return buffer;
}

std::string FrameworkTimeStamp(const platform::SystemTime& t) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "[%04u-%02u-%02u %02u:%02u:%02u.%03u]", t.year % 10000u,
                  t.month % 100u, t.day % 100u, t.hour % 100u, t.minute % 100u, t.second % 100u,
                  t.milliseconds % 1000u);
    return buffer;
}

std::string WithLineEnd(std::string text, const char* ending) {
    const size_t room = kLogTextLimit - 1 - std::strlen(ending);
    if (text.size() > room) text.resize(room);
    return text + ending;
}

}  // namespace engine
