// Reading one member of a plain zip, whole or into a file, through the same checked reader
// that takes patch packages apart: the member's size, CRC-32 and stored size are checked
// against the zip's directory.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace AXP {

enum class ZipMemberResult {
    kOk,
    kCannotOpen,  // missing, or not a zip
    kNoMember,    // no member of that name, in any letter case
    kReadFailed,  // damaged, not what the directory says, or larger than allowed
};

// Reads the member `member` (letter case ignored) of the zip at `path` (GBK) into `out`.
// A member whose directory entry claims more than `maxBytes` is refused before anything
// is allocated. Anything but kOk leaves `out` empty.
ZipMemberResult ReadZipMember(std::string_view path, std::string_view member, uint64_t maxBytes,
                              std::string& out);

// Writes the member `member` (letter case ignored) of the zip at `path` to the file
// `target` (GBK) in bounded chunks, through a side file that replaces `target` only once
// the member passed its checks: a bad member never changes `target`. A member whose
// directory entry claims more than `maxBytes` is refused before anything is written.
ZipMemberResult ExtractZipMember(std::string_view path, std::string_view member, uint64_t maxBytes,
                                 std::string_view target);

}  // namespace AXP
