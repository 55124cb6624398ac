// The launcher archive of the self-update: a zip that carries the new "quillgate.exe".
#pragma once

#include <string>
#include <string_view>

enum class ArchiveResult {
    Ok,
    CannotOpenArchive,  // missing or not a zip
    NoMember,           // no member of that name, in any letter case
    ReadFailed,         // the member's data is damaged or shorter than its entry says
};

// Reads the member `memberName` (letter case ignored) of the zip at `zipPath` whole.
ArchiveResult ReadArchiveMember(std::string_view zipPath, const char* memberName,
                                std::string& data);
