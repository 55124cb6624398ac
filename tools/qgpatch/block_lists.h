// qgpatch blocks: the block list of a published file (the SHA-256 of every 256 KiB block and
// of the whole file), put beside it as FILE.blocks, where the download engine looks for it.
#pragma once

#include <string>
#include <vector>

#include "command_line.h"

namespace qgpatch {

int RunBlocks(const CommandLine& line);

extern const char kBlocksHelp[];

}  // namespace qgpatch
