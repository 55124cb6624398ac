#include "axp/error.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>

namespace AXP {
namespace {

std::mutex g_mutex;
uint32_t g_code = 0;
char g_text[kMaxErrorText + 1] = {};

}  // namespace

uint32_t GetLastErrorCode() {
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_code;
}

std::string GetLastErrorText() {
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_text;
}

void SetLastError(uint32_t code, const char* format, ...) {
    char text[kMaxErrorText + 1];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof(text), format, args);
    va_end(args);
    std::lock_guard<std::mutex> lock(g_mutex);
    g_code = code;
    std::snprintf(g_text, sizeof(g_text), "%s", text);
}

void SetLastError(uint32_t code) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_code = code;
    g_text[0] = '\0';
}

}  // namespace AXP
