#include "update/repair_digests.h"

#include "update/patch_info.h"

namespace {

std::string_view WithoutLineEnd(std::string_view line) {
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    return line;
}

bool ParseInto(std::string_view text, RepairDigests& digests) {
    size_t pos = 0;
    int lineNumber = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) end = text.size();
        const std::string_view line = WithoutLineEnd(text.substr(pos, end - pos));
        pos = end + 1;
        ++lineNumber;
        // At most three fields: a name never holds "|".
        const size_t first = line.find('|');
        const size_t second = first == std::string_view::npos ? first : line.find('|', first + 1);
        if (second == std::string_view::npos ||
            line.find('|', second + 1) != std::string_view::npos)
            return false;
        const std::string_view a = line.substr(0, first);
        const std::string_view b = line.substr(first + 1, second - first - 1);
        const std::string_view c = line.substr(second + 1);
        if (lineNumber == 1) {
            const std::optional<uint64_t> serial = ParseDecimal(c);
            if (a != "release" || b.empty() || !serial) return false;
            digests.version = std::string(b);
            digests.serial = *serial;
        } else if (lineNumber == 2) {
            const std::optional<uint64_t> size = ParseDecimal(b);
            if (a != "list" || !size || !ParseDigestHex(c, digests.listSha256)) return false;
            digests.listSize = *size;
        } else {
            Sha256Digest digest;
            if (!ParseDigestHex(a, digest) ||
                !digests.files.emplace(RepairEntryKey(b, c), digest).second)
                return false;
        }
    }
    return lineNumber >= 2;
}

}  // namespace

bool ParseRepairDigests(std::string_view text, RepairDigests& digests) {
    digests = RepairDigests();
    if (ParseInto(text, digests)) return true;
    digests = RepairDigests();
    return false;
}

std::string RepairDigestsHeader(std::string_view version, uint64_t serial, std::string_view list) {
    return "release|" + std::string(version) + "|" + std::to_string(serial) + "\r\nlist|" +
           std::to_string(list.size()) + "|" + DigestHex(Sha256Of(list)) + "\r\n";
}

std::string RepairDigestLine(const Sha256Digest& digest, std::string_view pack,
                             std::string_view path) {
    return DigestHex(digest) + "|" + std::string(pack) + "|" + std::string(path) + "\r\n";
}

bool AttachRepairDigests(std::string_view listText, const RepairDigests& digests,
                         RepairList& list) {
    if (listText.size() != digests.listSize || Sha256Of(listText) != digests.listSha256 ||
        digests.files.size() != list.lineCount)
        return false;
    auto attach = [&](const std::string& pack, RepairEntry& entry) {
        const auto it = digests.files.find(RepairEntryKey(pack, entry.path));
        if (it == digests.files.end()) return false;
        entry.sha256 = it->second;
        return true;
    };
    for (RepairEntry& entry : list.looseFiles)
        if (!attach("", entry)) return false;
    for (auto& [pack, entries] : list.packFiles)
        for (RepairEntry& entry : entries)
            if (!attach(pack, entry)) return false;
    return true;
}
