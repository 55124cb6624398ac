// The repair file list ("current.ver") published beside the update files: what an
// installed client holds, loose files and pack entries, with the size and CRC of each.
//
//   first line:  "name|count" (exactly two fields; the count is the number of lines
//                that follow, in decimal)
//   other lines: "path|%08X size|%08X CRC|compression type|pack name" (pack name empty
//                for a loose file)
//
// The list comes from a server: a line of another shape, a count that disagrees, a file
// named twice, or a name that would leave the client folder or reach the launcher's own
// files refuses the whole list before anything acts on it.
// The format, field by field: docs/formats/repair-list.md
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "update/sha256.h"

inline constexpr const char* kRepairListName = "current.ver";
// Lines are read into buffers of this many characters, line end included.
inline constexpr size_t kRepairListMaxLine = 1039;
// A list of every file of a large client stays far below this.
inline constexpr int64_t kRepairListMaxBytes = 64ll << 20;

struct RepairEntry {
    std::string path;  // relative path (loose file) or entry name (pack entry), GBK
    uint32_t size = 0;
    uint32_t crc = 0;
    int32_t compressType = 0;  // codec of the entry in its pack; 0 stored as is
    // What a signed site published of the content; every restored copy must have it.
    std::optional<Sha256Digest> sha256;
};

struct RepairList {
    std::vector<RepairEntry> looseFiles;
    // Keyed by the pack's name in lower case with forward slashes.
    std::map<std::string, std::vector<RepairEntry>> packFiles;
    uint32_t entryCount = 0;
    uint64_t totalVolume = 0;  // 64 bits: a client may hold more than 4 GiB
    uint32_t lineCount = 0;    // entry lines of the list, skipped ones included
};

enum class RepairListResult { Ok, Malformed, Unsafe };

// Parses the whole list text into `list` (emptied first, and left empty when the list is
// refused); skipped loose files are left out and not counted.
RepairListResult ParseRepairList(std::string_view text, RepairList& list);

// Loose files the repair never examines: the launcher's own files and what it keeps in
// the client folder ("quillgate.*", the seen serials, "qg-rundll"), the configuration,
// "ver.id", the download folder and the DirectX installer.
bool IsSkippedLooseFile(std::string_view path);

// A pack the repair must not write: one in the download folder or named as the launcher's
// own files ("quillgate.*").
bool IsLauncherPack(std::string_view pack);

// A relative path that stays inside the client folder: not empty, not absolute, no drive
// letter, no ".." component, no control characters.
bool IsContainedRelativePath(std::string_view path);

// One name for a loose file (empty pack) or a pack entry, the same whatever letter case
// and separators the list writes it with: the file the client resolves it to.
std::string RepairEntryKey(std::string_view pack, std::string_view path);
