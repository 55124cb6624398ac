// Where the launcher finds the files it ships with. In a client folder, and in the build,
// they lie beside its executable. Installed from the packages, the executable is
// PREFIX/bin/quillgate, the skin PREFIX/share/quillgate/skin and the helper program
// PREFIX/lib/quillgate/qg-rundll: a launcher in a folder named "bin" looks there next.
#pragma once

#include <string>

// The skin folder: $QUILLGATE_SKIN, else "skin" in the client folder (the current one),
// else "skin" beside the executable, else the installed one, else the one the build made.
std::string FindSkinFolder(const std::string& exePath);

// The helper program "qg-rundll": beside the executable, else the installed one; the one
// beside it when neither exists (so that a failure names it). Empty when `exePath` has
// no folder.
std::string FindRundllProgram(const std::string& exePath);
