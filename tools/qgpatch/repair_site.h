// qgpatch repair-site: publishes what the launcher's repair reads from a sound client
// tree: the file list "current.ver" and every file the repair may fetch, each at the path
// its URL names (loose files at their relative path, pack entries decoded at the pack's
// name + "/" + the entry's name).
#pragma once

#include <string>
#include <vector>

#include "command_line.h"

namespace qgpatch {

int RunRepairSite(const CommandLine& line);

extern const char kRepairSiteHelp[];

}  // namespace qgpatch
