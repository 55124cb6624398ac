// The folders that belong to the user rather than to the client folder, as native paths
// (UTF-8, no trailing "/"). They read the environment, so call them before starting
// threads that may change it, and hand the results over.
#pragma once

#include <string>

namespace platform {

// A variable of this process's environment; empty when it is not set.
std::string EnvironmentValue(const char* name);

// $XDG_CONFIG_HOME, else $HOME/.config, else the home folder of the user database plus
// "/.config"; empty when none is known.
std::string UserConfigFolder();

// $XDG_RUNTIME_DIR (private to the user, emptied at log-out) when it names a folder, else
// $TMPDIR, else "/tmp".
std::string RuntimeFolder();

}  // namespace platform
