#include "update/repair_list.h"

#include <charconv>
#include <cstdlib>
#include <set>

#include "platform/ascii_text.h"
#include "update/url.h"

namespace {

using platform::EqualsIgnoringAsciiCase;

bool EndsWithNoCase(std::string_view text, std::string_view tail) {
    return text.size() >= tail.size() &&
           EqualsIgnoringAsciiCase(text.substr(text.size() - tail.size()), tail);
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
    constexpr std::string_view kLauncherPrefix = "quillgate.";
    for (const char* name : {"ver.id", "release.serial", "serverlist.serial", "qg-rundll"})
        if (EqualsIgnoringAsciiCase(path, name)) return true;
    return EndsWithNoCase(path, ".cfg") ||
           (path.size() >= kLauncherPrefix.size() &&
            EqualsIgnoringAsciiCase(path.substr(0, kLauncherPrefix.size()), kLauncherPrefix)) ||
           (path.size() >= 8 && (EqualsIgnoringAsciiCase(path.substr(0, 8), "DirectX9") ||
                                 EqualsIgnoringAsciiCase(path.substr(0, 8), "Download")));
}

namespace {

// The components of a path after its separators are unified: a double-byte character
// may end in "\".
std::vector<std::string> Components(std::string_view path) {
    const std::string unified = NormalisePath(path, false, true);
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        const size_t slash = unified.find('/', start);
        parts.push_back(unified.substr(start, slash == std::string::npos ? slash : slash - start));
        if (slash == std::string::npos) return parts;
        start = slash + 1;
    }
}

// A file-system path of the list (a loose file or a pack) in one spelling only: no "." or
// empty component, so that "./quillgate.exe" cannot pass for another file than it is.
bool IsPlainRelativePath(std::string_view path) {
    if (!IsContainedRelativePath(path)) return false;
    for (const std::string& part : Components(path))
        if (part.empty() || part == ".") return false;
    return true;
}

}  // namespace

bool IsLauncherPack(std::string_view pack) {
    const std::vector<std::string> parts = Components(pack);
    constexpr std::string_view kLauncherPrefix = "quillgate.";
    return EqualsIgnoringAsciiCase(parts[0], "download") ||
           (parts.size() == 1 && parts[0].size() >= kLauncherPrefix.size() &&
            EqualsIgnoringAsciiCase(std::string_view(parts[0]).substr(0, kLauncherPrefix.size()),
                                    kLauncherPrefix));
}

std::string RepairEntryKey(std::string_view pack, std::string_view path) {
    // "|" never occurs in a name of the list: it separates its fields.
    return NormalisePath(pack, true, true) + "|" + NormalisePath(path, true, true);
}

bool IsContainedRelativePath(std::string_view path) {
    if (path.empty() || path[0] == '/' || path[0] == '\\') return false;
    if (path.size() >= 2 && path[1] == ':') return false;
    for (char c : path)
        if (static_cast<unsigned char>(c) < 0x20) return false;
    for (const std::string& part : Components(path))
        if (part == "..") return false;
    return true;
}

namespace {

RepairListResult ParseInto(std::string_view text, RepairList& list) {
    std::optional<uint64_t> count;
    std::set<std::string> named;
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
        if (!count) {
            uint64_t value = 0;
            const std::string_view number = fields.size() == 2 ? fields[1] : std::string_view();
            const auto parsed =
                std::from_chars(number.data(), number.data() + number.size(), value, 10);
            if (number.empty() || parsed.ec != std::errc() ||
                parsed.ptr != number.data() + number.size())
                return RepairListResult::Malformed;
            count = value;
            continue;
        }
        if (fields.size() != 5) return RepairListResult::Malformed;
        RepairEntry entry;
        entry.path = std::string(fields[0]);
        if (!ParseHex32(fields[1], entry.size) || !ParseHex32(fields[2], entry.crc))
            return RepairListResult::Malformed;
        entry.compressType = std::atoi(std::string(fields[3]).c_str());
        const std::string_view pack = fields[4];
        if (pack.empty() ? !IsPlainRelativePath(entry.path)
                         : !IsContainedRelativePath(entry.path) || !IsPlainRelativePath(pack) ||
                               !EndsWithNoCase(pack, ".pak") || IsLauncherPack(pack))
            return RepairListResult::Unsafe;
        // Named twice, the last would win over what the first restored; and a loose file
        // that is also a pack would be written by two hands.
        if (!named.insert(RepairEntryKey(pack, entry.path)).second ||
            (!pack.empty() && named.count(RepairEntryKey("", pack)) != 0) ||
            (pack.empty() && list.packFiles.count(NormalisePath(entry.path, true, true)) != 0))
            return RepairListResult::Malformed;
        ++list.lineCount;
        if (pack.empty()) {
            if (IsSkippedLooseFile(entry.path)) continue;
            list.looseFiles.push_back(entry);
        } else {
            list.packFiles[NormalisePath(pack, true, true)].push_back(entry);
        }
        ++list.entryCount;
        list.totalVolume += entry.size;
    }
    return count && *count == list.lineCount ? RepairListResult::Ok : RepairListResult::Malformed;
}

}  // namespace

RepairListResult ParseRepairList(std::string_view text, RepairList& list) {
    list = RepairList();
    const RepairListResult result = ParseInto(text, list);
    if (result != RepairListResult::Ok) list = RepairList();
    return result;
}
