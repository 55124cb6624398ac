// The signed companion of the repair list, "current.ver.sha256", published beside it by
// a signed site. The list's CRC-32 catches damage, not forgery; the companion gives the
// SHA-256 of the list and of every file it names, and the release the list describes, so
// that a repair installs only what the operator published for this client's release.
//
//   first line:   "release|VERSION|SERIAL"  the client version the list describes, as
//                 ".ver" gives it, and the site's serial in decimal
//   second line:  "list|SIZE|SHA256"        the size (decimal) and SHA-256 of the list
//   other lines:  "SHA256|PACK|PATH"        one per entry line of the list: its pack name
//                 (empty for a loose file) and path as the list gives them
//
// SHA-256 as 64 hex digits; lines end in LF or CR LF. Its signature ("current.ver.sha256.sig")
// is made in the role "quillgate repair list" (update/release_trust.h).
// The format, field by field: docs/formats/repair-list.md
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

#include "update/repair_list.h"
#include "update/sha256.h"

inline constexpr const char* kRepairDigestsName = "current.ver.sha256";
// Each line of it is a list line's names with a digest: about as long as the list.
inline constexpr int64_t kRepairDigestsMaxBytes = 2 * kRepairListMaxBytes;

struct RepairDigests {
    std::string version;  // the release's client version, as ".ver" writes it
    uint64_t serial = 0;
    uint64_t listSize = 0;
    Sha256Digest listSha256{};
    std::map<std::string, Sha256Digest> files;  // keyed by RepairEntryKey
};

// Parses the whole text; false (and `digests` empty) for another shape, a digest that is
// not 64 hex digits, or a file named twice.
bool ParseRepairDigests(std::string_view text, RepairDigests& digests);

// The first two lines, and one file's line, as the parser reads them (CR LF ends).
std::string RepairDigestsHeader(std::string_view version, uint64_t serial, std::string_view list);
std::string RepairDigestLine(const Sha256Digest& digest, std::string_view pack,
                             std::string_view path);

// Gives every entry of `list` its digest. False when the digests are not of this list
// (its size or SHA-256 differ, or a line of it has no digest or a digest names no line).
bool AttachRepairDigests(std::string_view listText, const RepairDigests& digests, RepairList& list);
