#include "download/http/bounded_text.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/text_encoding.h"

namespace DOWNANT {
namespace {

// Shortens a NUL-terminated GBK string so that it does not end in a lone lead byte.
void DropSplitCharacter(char* buffer) {
    const size_t length = std::strlen(buffer);
    size_t i = 0;
    while (i < length) {
        if (platform::IsGbkLeadByte(static_cast<unsigned char>(buffer[i]))) {
            if (i + 1 == length) {
                buffer[i] = '\0';
                return;
            }
            i += 2;
        } else {
            ++i;
        }
    }
}

}  // namespace

bool CopyBounded(char* buffer, size_t size, std::string_view text) {
    if (size == 0) return text.empty();
    const size_t n = text.size() < size ? text.size() : size - 1;
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
    if (n == text.size()) return true;
    DropSplitCharacter(buffer);
    return false;
}

void FormatBounded(char* buffer, size_t size, const char* utf8Format, ...) {
    if (size == 0) return;
    const std::string format = platform::Utf8ToGbkLossy(utf8Format);
    va_list args;
    va_start(args, utf8Format);
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#endif
    const int n = std::vsnprintf(buffer, size, format.c_str(), args);
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif
    va_end(args);
    if (n < 0) buffer[0] = '\0';
    if (n >= static_cast<int>(size)) DropSplitCharacter(buffer);
}

}  // namespace DOWNANT
