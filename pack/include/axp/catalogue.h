// The "(list)" catalogue of a pack, as the pack tools and the repair keep it: entry names
// (GBK) with their decoded size and CRC; written with the count line first, "name|%08X|%08X"
// lines in name order and CR LF line ends.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "axp/pack_file.h"

namespace AXP {

struct CatalogueEntry {
    uint32_t size = 0;
    uint32_t crc = 0;
};
using Catalogue = std::map<std::string, CatalogueEntry>;

// Reads the pack's "(list)"; an absent list gives an empty catalogue. False (with the
// library's last error) when the list exists but cannot be read.
bool ReadCatalogue(IPakFile& pack, Catalogue& out);
std::string FormatCatalogue(const Catalogue& catalogue);
// Stores the catalogue as "(list)" (type 0).
bool WriteCatalogue(IPakFile& pack, const Catalogue& catalogue);

}  // namespace AXP
