// The command script of a patch package: the text of its zip entry "(command)".
//
// Lines are split at every CR and LF, empty lines dropped; each line at every "|",
// keeping empty fields; lines with fewer than 5 fields are ignored, fields beyond the
// fifth too:
//   operation (decimal: 0 write, 1 remove) | pack name ("" = a plain file) |
//   entry name (also the zip entry holding the content) | compression type (decimal) |
//   unpacked size ("%08X")
// Names are normalised (axp/name_hash.h). A type that is not bare decimal digits or a size
// that is not one to eight bare hexadecimal digits makes the line's operation kOpUnknown.
// The format, field by field: docs/formats/patch-package.md
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace AXP {

inline constexpr char kCommandEntryName[] = "(command)";
inline constexpr uint32_t kOpWrite = 0;
inline constexpr uint32_t kOpRemove = 1;
// The operation of a line whose operation, type or size field is malformed; a package
// holding one is refused (error 10).
inline constexpr uint32_t kOpUnknown = 0xFFFFFFFFu;

struct ScriptCommand {
    uint32_t operation = kOpWrite;
    std::string packName;   // normalised; empty for a plain file
    std::string entryName;  // normalised
    uint32_t compressType = 0;
    uint32_t unpackedSize = 0;
};

std::vector<ScriptCommand> ParseCommandScript(std::string_view text);

// One script line (without line end) for a command; names are written as given.
std::string FormatScriptLine(const ScriptCommand& command);

// True when a normalised name stays inside the directory it is relative to: not empty,
// not absolute ("/..."), no drive letter ("c:..."), no ".." component.
bool IsContainedName(std::string_view normalisedName);

}  // namespace AXP
