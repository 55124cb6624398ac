// The launcher archive of the self-update: a zip that carries the new "quillgate.exe".
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// A member that claims more than this is refused before anything is allocated.
inline constexpr uint64_t kMaxArchiveMemberBytes = 256ull << 20;

enum class ArchiveResult {
    Ok,
    CannotOpenArchive,  // missing or not a zip
    NoMember,           // no member of that name, in any letter case
    ReadFailed,         // the member's data is damaged, shorter than its entry says or too big
};

// Reads the member `memberName` (letter case ignored) of the zip at `zipPath` whole.
ArchiveResult ReadArchiveMember(std::string_view zipPath, const char* memberName,
                                std::string& data);
