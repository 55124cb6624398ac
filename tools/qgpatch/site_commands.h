// qgpatch commands that publish an update site: the patch-information file, scrambled
// text files and the launcher archive of the self-update.
#pragma once

#include <string>
#include <vector>

#include "command_line.h"

namespace qgpatch {

// Each runs its command on the command line read against its entry in the command table;
// the exit code.
int RunSite(const CommandLine& line);
int RunScramble(const CommandLine& line);
int RunLauncherZip(const CommandLine& line);

// Their help entries.
extern const char kSiteHelp[];
extern const char kScrambleHelp[];
extern const char kLauncherZipHelp[];

}  // namespace qgpatch
