// Forgeries for tests: the pack library's CRC is linear, so four chosen bytes give any
// content any CRC. A test uses them to show that a size and a CRC alone do not vouch for a
// file.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "axp/crc.h"

namespace testing_support {

// `content` with the four bytes at `at` changed so that its CRC (axp/crc.h) is `wanted`;
// the size stays. `at` + 4 must lie within the content.
inline std::string ForgeCrc(std::string content, size_t at, uint32_t wanted) {
    auto crcOf = [&] { return AXP::Crc(content.data(), content.size()); };
    const uint32_t base = crcOf();
    // The change each of the 32 bits makes to the CRC; then solve for `wanted` over GF(2).
    std::array<uint32_t, 32> effect{};
    for (int bit = 0; bit < 32; ++bit) {
        content[at + bit / 8] ^= static_cast<char>(1 << (bit % 8));
        effect[bit] = crcOf() ^ base;
        content[at + bit / 8] ^= static_cast<char>(1 << (bit % 8));
    }
    std::array<uint32_t, 32> chosen{};  // which input bits make up each row
    for (int bit = 0; bit < 32; ++bit) chosen[bit] = 1u << bit;
    uint32_t target = wanted ^ base, flips = 0;
    for (int column = 31, row = 0; column >= 0; --column) {
        int pivot = row;
        while (pivot < 32 && !(effect[pivot] >> column & 1)) ++pivot;
        if (pivot == 32) continue;
        std::swap(effect[pivot], effect[row]);
        std::swap(chosen[pivot], chosen[row]);
        for (int other = 0; other < 32; ++other) {
            if (other != row && (effect[other] >> column & 1)) {
                effect[other] ^= effect[row];
                chosen[other] ^= chosen[row];
            }
        }
        if (target >> column & 1) {
            target ^= effect[row];
            flips ^= chosen[row];
        }
        ++row;
    }
    for (int bit = 0; bit < 32; ++bit)
        if (flips >> bit & 1) content[at + bit / 8] ^= static_cast<char>(1 << (bit % 8));
    return content;
}

}  // namespace testing_support
