#include "axp/crc.h"

#include <array>
#include <cstring>

namespace AXP {
namespace {

// Slicing tables: table k advances a byte that stands k places before the end of an
// 8-byte group. Exchanging entries 64..127 with 128..191 amounts to swapping bits 6 and 7
// of the index, a linear map, so the one-byte step stays linear and slicing applies to
// this table as to the standard one.
using Tables = std::array<std::array<uint32_t, 256>, 8>;

Tables BuildTables() {
    Tables t{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t c = i;
        for (int k = 0; k < 8; ++k) c = (c & 1) ? (0xEDB88320u ^ (c >> 1)) : (c >> 1);
        t[0][i] = c;
    }
    for (uint32_t i = 64; i < 128; ++i) std::swap(t[0][i], t[0][i ^ 0xC0]);
    for (int k = 1; k < 8; ++k) {
        for (uint32_t i = 0; i < 256; ++i) t[k][i] = (t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xFF];
    }
    return t;
}

const Tables& AllTables() {
    static const Tables tables = BuildTables();
    return tables;
}

}  // namespace

uint32_t CrcTableValue(uint32_t index) { return AllTables()[0][index & 0xFF]; }

uint32_t CrcUpdateBytewise(uint32_t state, const void* data, size_t size) {
    const auto& t = AllTables()[0];
    const auto* p = static_cast<const uint8_t*>(data);
    for (size_t i = 0; i < size; ++i) state = t[(state ^ p[i]) & 0xFF] ^ (state >> 8);
    return state;
}

uint32_t CrcUpdate(uint32_t state, const void* data, size_t size) {
    const Tables& t = AllTables();
    const auto* p = static_cast<const uint8_t*>(data);
    for (; size >= 8; size -= 8, p += 8) {
        uint32_t lo, hi;
        std::memcpy(&lo, p, 4);  // little-endian loads, as the byte order of the CRC
        std::memcpy(&hi, p + 4, 4);
        lo ^= state;
        state = t[7][lo & 0xFF] ^ t[6][(lo >> 8) & 0xFF] ^ t[5][(lo >> 16) & 0xFF] ^
                t[4][lo >> 24] ^ t[3][hi & 0xFF] ^ t[2][(hi >> 8) & 0xFF] ^
                t[1][(hi >> 16) & 0xFF] ^ t[0][hi >> 24];
    }
    return CrcUpdateBytewise(state, p, size);
}

}  // namespace AXP
