// qgpatch blocks: the block list of a published file (the SHA-256 of every 256 KiB block and of
// the whole file), put beside it as FILE.blocks, where the download engine looks for it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "command_line.h"

namespace qgpatch {

int RunBlocks(const CommandLine& line);

extern const char kBlocksHelp[];

// What writing a block list learned of the file, in lower-case hex.
struct BlockListFacts {
    uint64_t length = 0;
    int64_t blocks = 0;
    std::string fileSha256;
    std::string listSha256;
};

// Writes the block list of `file` (a path as given on the command line) to `target`
// (replacing it), reading the file once; false, with the reason on stderr, when the file
// cannot be read or the list cannot be written.
bool WriteBlockList(const std::string& file, const std::string& target, BlockListFacts& facts);

}  // namespace qgpatch
