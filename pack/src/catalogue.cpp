#include "axp/catalogue.h"

#include <cstdio>
#include <cstdlib>

#include "axp/format.h"

namespace AXP {

bool ReadCatalogue(IPakFile& pack, Catalogue& out) {
    out.clear();
    if (!pack.Exists(kListFileName)) return true;
    IStream* list = pack.OpenFile(kListFileName);
    if (list == nullptr) return false;
    char line[1041];
    list->ReadLine(line, sizeof(line));
    while (!list->IsEof()) {
        const uint32_t n = list->ReadLine(line, sizeof(line));
        if (n == 0) continue;
        std::string text(line, n);
        const size_t a = text.find('|');
        const size_t b = a == std::string::npos ? a : text.find('|', a + 1);
        if (b == std::string::npos) continue;
        CatalogueEntry e;
        e.size =
            static_cast<uint32_t>(std::strtoul(text.substr(a + 1, b - a - 1).c_str(), nullptr, 16));
        e.crc = static_cast<uint32_t>(std::strtoul(text.substr(b + 1).c_str(), nullptr, 16));
        out[text.substr(0, a)] = e;
    }
    list->Release();
    return true;
}

std::string FormatCatalogue(const Catalogue& catalogue) {
    std::string text = std::to_string(catalogue.size()) + "\r\n";
    for (const auto& [name, e] : catalogue) {
        char tail[32];
        std::snprintf(tail, sizeof(tail), "|%08X|%08X\r\n", e.size, e.crc);
        text += name;
        text += tail;
    }
    return text;
}

bool WriteCatalogue(IPakFile& pack, const Catalogue& catalogue) {
    const std::string text = FormatCatalogue(catalogue);
    return pack.AddFile(text.data(), static_cast<uint32_t>(text.size()), kListFileName, true, false,
                        0, 0);
}

}  // namespace AXP
