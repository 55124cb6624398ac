// The repair file list ("current.ver") published beside the update files: what an
// installed client holds, loose files and pack entries, with the size and CRC of each.
//
//   first line:  "name|number" (exactly two fields; the number is not used)
//   other lines: "path|%08X size|%08X CRC|compression type|pack name" (pack name empty
//                for a loose file)
//
// The list comes from a server: a line of another shape, or a name that would leave the
// client folder, refuses the whole list before anything acts on it.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

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
};

struct RepairList {
    std::vector<RepairEntry> looseFiles;
    // Keyed by the pack's name in lower case with forward slashes.
    std::map<std::string, std::vector<RepairEntry>> packFiles;
    uint32_t entryCount = 0;
    uint64_t totalVolume = 0;  // 64 bits: a client may hold more than 4 GiB
};

enum class RepairListResult { Ok, Malformed, Unsafe };

// Parses the whole list text into `list` (emptied first); skipped loose files are left
// out and not counted.
RepairListResult ParseRepairList(std::string_view text, RepairList& list);

// Loose files the repair never examines: the launcher's own files, the configuration,
// the download folder and the DirectX installer.
bool IsSkippedLooseFile(std::string_view path);

// A relative path that stays inside the client folder: not empty, not absolute, no drive
// letter, no ".." component, no control characters.
bool IsContainedRelativePath(std::string_view path);
