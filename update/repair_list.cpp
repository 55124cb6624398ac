#include "update/repair_list.h"

#include <charconv>
#include <cstdlib>

#include "update/url.h"

namespace {

bool EqualsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x + 32);
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y + 32);
        if (x != y) return false;
    }
    return true;
}

bool EndsWithNoCase(std::string_view text, std::string_view tail) {
    return text.size() >= tail.size() && EqualsNoCase(text.substr(text.size() - tail.size()), tail);
}

// One to eight hexadecimal digits, nothing else: what "%08X" writes.
bool ParseHex32(std::string_view field, uint32_t& value) {
    if (field.empty() || field.size() > 8) return false;
    const char* end = field.data() + field.size();
    const auto result = std::from_chars(field.data(), end, value, 16);
    return result.ec == std::errc() && result.ptr == end;
}

// The fields of a line; empty fields count.
std::vector<std::string_view> Fields(std::string_view line) {
    std::vector<std::string_view> fields;
    size_t start = 0;
    for (;;) {
        const size_t bar = line.find('|', start);
        fields.push_back(line.substr(start, bar == std::string_view::npos ? bar : bar - start));
        if (bar == std::string_view::npos) return fields;
        start = bar + 1;
    }
}

}  // namespace

bool IsSkippedLooseFile(std::string_view path) {
    return EndsWithNoCase(path, ".cfg") || EqualsNoCase(path, "quillgate.exe") ||
           EqualsNoCase(path, "quillgate.bin") || EqualsNoCase(path, "ver.id") ||
           (path.size() >= 8 && (EqualsNoCase(path.substr(0, 8), "DirectX9") ||
                                 EqualsNoCase(path.substr(0, 8), "Download")));
}

bool IsContainedRelativePath(std::string_view path) {
    if (path.empty() || path[0] == '/' || path[0] == '\\') return false;
    if (path.size() >= 2 && path[1] == ':') return false;
    for (char c : path)
        if (static_cast<unsigned char>(c) < 0x20) return false;
    // Split after the separators are unified: a double-byte character may end in "\".
    const std::string unified = NormalisePath(path, false, true);
    size_t start = 0;
    for (;;) {
        const size_t slash = unified.find('/', start);
        const std::string_view part = std::string_view(unified).substr(
            start, slash == std::string::npos ? slash : slash - start);
        if (part == "..") return false;
        if (slash == std::string::npos) return true;
        start = slash + 1;
    }
}

RepairListResult ParseRepairList(std::string_view text, RepairList& list) {
    list = RepairList();
    bool header = true;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(pos, end - pos);
        const bool tooLong = end - pos + 1 > kRepairListMaxLine;
        pos = end + 1;
        while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.remove_suffix(1);
        if (tooLong) return RepairListResult::Malformed;
        const std::vector<std::string_view> fields = Fields(line);
        if (header) {
            if (fields.size() != 2) return RepairListResult::Malformed;
            header = false;
            continue;
        }
        if (fields.size() != 5) return RepairListResult::Malformed;
        RepairEntry entry;
        entry.path = std::string(fields[0]);
        if (!ParseHex32(fields[1], entry.size) || !ParseHex32(fields[2], entry.crc))
            return RepairListResult::Malformed;
        entry.compressType = std::atoi(std::string(fields[3]).c_str());
        const std::string_view pack = fields[4];
        if (!IsContainedRelativePath(entry.path) ||
            (!pack.empty() && (!IsContainedRelativePath(pack) || !EndsWithNoCase(pack, ".pak"))))
            return RepairListResult::Unsafe;
        if (pack.empty()) {
            if (IsSkippedLooseFile(entry.path)) continue;
            list.looseFiles.push_back(entry);
        } else {
            list.packFiles[NormalisePath(pack, true, true)].push_back(entry);
        }
        ++list.entryCount;
        list.totalVolume += entry.size;
    }
    return header ? RepairListResult::Malformed : RepairListResult::Ok;
}
