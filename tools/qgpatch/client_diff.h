// The difference between two client folders as patch content: pack files ("*.pak")
// compared entry by entry through their "(list)" catalogues, every other file by size
// and CRC.
//
//  - a changed or new pack entry is written with the new pack's compression type and
//    unpacked size; an entry gone from the catalogue is removed; "(list)" itself is
//    written when it changed;
//  - a new pack, or one that cannot be read, is written as a whole plain file;
//  - a changed or new loose file is written, a file gone from the new folder removed.
//
// `compressedContent` (scrambled packages) carries compressed entries as stored in the
// pack; otherwise (sealed packages) their decoded content, which the launcher compresses
// as it writes them.
//
// Zip members are named by entry name, so two packs that need different content under one
// entry name cannot both be patched entry by entry. As every pack's catalogue is named
// "(list)", that is the rule when several packs change: the largest is patched entry by
// entry, a pack that would clash with it is carried whole.
#pragma once

#include <string>

#include "patch_content.h"

namespace qgpatch {

// Folders are native (UTF-8) paths. False with `error` set (a message for the operator).
bool DiffClients(const std::string& oldDir, const std::string& newDir, bool compressedContent,
                 PatchContent& out, std::string& error);

}  // namespace qgpatch
