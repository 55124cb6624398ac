#include "platform/hex_text.h"

namespace platform {

int HexDigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string LowerHex(const uint8_t* bytes, size_t count) {
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    text.reserve(count * 2);
    for (size_t i = 0; i < count; ++i) {
        text += kDigits[bytes[i] >> 4];
        text += kDigits[bytes[i] & 15];
    }
    return text;
}

bool ParseHex(std::string_view text, uint8_t* out, size_t count) {
    if (text.size() != 2 * count) return false;
    for (size_t i = 0; i < count; ++i) {
        const int high = HexDigitValue(text[2 * i]), low = HexDigitValue(text[2 * i + 1]);
        if (high < 0 || low < 0) return false;
        out[i] = static_cast<uint8_t>(high << 4 | low);
    }
    return true;
}

}  // namespace platform
