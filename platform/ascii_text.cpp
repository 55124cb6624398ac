#include "platform/ascii_text.h"

namespace platform {
namespace {

char FoldAsciiLetter(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (FoldAsciiLetter(a[i]) != FoldAsciiLetter(b[i])) return false;
    }
    return true;
}

std::string LowerAscii(std::string text) {
    for (char& c : text) c = FoldAsciiLetter(c);
    return text;
}

}  // namespace platform
