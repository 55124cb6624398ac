#include "engine/hex_text.h"

namespace engine {
namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

std::string LowerHex(const unsigned char* bytes, size_t count) {
    static const char kHex[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(count * 2);
    for (size_t i = 0; i < count; ++i) {
        hex += kHex[bytes[i] >> 4];
        hex += kHex[bytes[i] & 15];
    }
    return hex;
}

std::string LowerAscii(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

bool ParseHex(std::string_view text, unsigned char* out, size_t count) {
    if (text.size() != 2 * count) return false;
    for (size_t i = 0; i < count; ++i) {
        const int high = HexValue(text[2 * i]), low = HexValue(text[2 * i + 1]);
        if (high < 0 || low < 0) return false;
        out[i] = static_cast<unsigned char>(high * 16 + low);
    }
    return true;
}

}  // namespace engine
