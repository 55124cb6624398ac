#include "axp/error.h"

#include <cstdarg>
#include <cstdio>

namespace AXP {
namespace {

// Per thread, so that a reader failing on one thread never replaces the error another
// thread is about to read; no lock is needed.
thread_local uint32_t t_code = 0;
thread_local char t_text[kMaxErrorText + 1] = {};

}  // namespace

uint32_t GetLastErrorCode() { return t_code; }

std::string GetLastErrorText() { return t_text; }

void SetLastError(uint32_t code, const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vsnprintf(t_text, sizeof(t_text), format, args);
    va_end(args);
    t_code = code;
}

void SetLastError(uint32_t code) {
    t_code = code;
    t_text[0] = '\0';
}

}  // namespace AXP
