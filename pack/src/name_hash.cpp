#include "axp/name_hash.h"

#include <array>

#include "axp/format.h"

namespace AXP {
namespace {

std::array<uint32_t, 1024> BuildTable() {
    std::array<uint32_t, 1024> t{};
    uint32_t seed = 0x00100001;
    for (uint32_t c = 0; c < 256; ++c) {
        for (uint32_t r = 0; r < 4; ++r) {
            seed = (seed * 125 + 3) % 0x2AAAAB;
            uint32_t high = seed;
            seed = (seed * 125 + 3) % 0x2AAAAB;
            uint32_t low = seed;
            t[256 * r + c] = (high << 16) | (low & 0xFFFF);
        }
    }
    return t;
}

const std::array<uint32_t, 1024>& Table() {
    static const std::array<uint32_t, 1024> table = BuildTable();
    return table;
}

}  // namespace

std::string NormaliseName(std::string_view name) {
    std::string out(name);
    for (size_t i = 0; i < out.size(); ++i) {
        auto c = static_cast<unsigned char>(out[i]);
        if (c >= 'A' && c <= 'Z') {
            out[i] = static_cast<char>(c + 32);
        } else if (c == '\\') {
            out[i] = '/';
        } else if (c >= 0x81 && c <= 0xFE) {
            ++i;  // keep the lead byte and its trail byte unchanged
        }
    }
    return out;
}

uint32_t HashTableValue(uint32_t index) { return Table()[index & 1023]; }

uint32_t HashName(std::string_view normalisedName, uint32_t row) {
    const auto& t = Table();
    uint32_t h = 0x7FED7FED;
    uint32_t s = 0xEEEEEEEE;
    for (char ch : normalisedName) {
        int32_t v = static_cast<int8_t>(ch);
        // 256*row + v with v in -128..127: bytes >= 0x80 read row - 1.
        uint32_t index = static_cast<uint32_t>(static_cast<int32_t>(256 * row) + v);
        h = t[index & 1023] ^ (h + s);
        s = static_cast<uint32_t>(v) + h + s + (s << 5) + 3;
    }
    return h;
}

NameHashes HashNormalisedName(std::string_view normalisedName) {
    return NameHashes{HashName(normalisedName, 3), HashName(normalisedName, 1),
                      HashName(normalisedName, 2)};
}

}  // namespace AXP
