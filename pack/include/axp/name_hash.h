// Entry names: normalisation and the three name hashes. The 1024-value hash
// table is built once, on first use, thread safe.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace AXP {

// ASCII capitals become small letters, "\" becomes "/", a GBK lead byte (0x81..0xFE) and
// the byte after it are kept unchanged. "Data\UI\Main.TGA" -> "data/ui/main.tga".
std::string NormaliseName(std::string_view name);

// Value `index` (0..1023; row r, column c at 256*r + c) of the name hash table.
uint32_t HashTableValue(uint32_t index);

// Hash of an already normalised name with table row `row` (1, 2 or 3). Bytes are taken as
// signed, so bytes >= 0x80 read row - 1.
uint32_t HashName(std::string_view normalisedName, uint32_t row);

struct NameHashes {
    uint32_t position = 0;  // row 3; the start slot is position % kHashSlotCount
    uint32_t hashA = 0;     // row 1
    uint32_t hashB = 0;     // row 2
};
NameHashes HashNormalisedName(std::string_view normalisedName);

}  // namespace AXP
