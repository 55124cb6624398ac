#include "engine/hex_text.h"

namespace engine {

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

}  // namespace engine
