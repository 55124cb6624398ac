#include "axp/crc.h"

#include <array>

namespace AXP {
namespace {

std::array<uint32_t, 256> BuildTable() {
    std::array<uint32_t, 256> standard{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t c = i;
        for (int k = 0; k < 8; ++k) c = (c & 1) ? (0xEDB88320u ^ (c >> 1)) : (c >> 1);
        standard[i] = c;
    }
    std::array<uint32_t, 256> t = standard;
    for (uint32_t i = 64; i < 192; ++i) t[i] = standard[i ^ 0xC0];
    return t;
}

const std::array<uint32_t, 256>& Table() {
    static const std::array<uint32_t, 256> table = BuildTable();
    return table;
}

}  // namespace

uint32_t CrcTableValue(uint32_t index) { return Table()[index & 0xFF]; }

uint32_t CrcUpdate(uint32_t state, const void* data, size_t size) {
    const auto& t = Table();
    const auto* p = static_cast<const uint8_t*>(data);
    for (size_t i = 0; i < size; ++i) state = t[(state ^ p[i]) & 0xFF] ^ (state >> 8);
    return state;
}

}  // namespace AXP
