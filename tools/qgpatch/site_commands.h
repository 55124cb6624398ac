// qgpatch commands that publish an update site: the patch-information file, scrambled
// text files and the launcher archive of the self-update.
#pragma once

#include <string>
#include <vector>

namespace qgpatch {

// True when `command` is one of the site commands.
bool IsSiteCommand(const std::string& command);

// Runs a site command on its arguments (after the command name); the exit code.
int RunSiteCommand(const std::string& command, const std::vector<std::string>& args);

// The help lines of the site commands.
extern const char kSiteHelp[];

}  // namespace qgpatch
