#include "app/rundll_entry.h"

#include "app/install_layout.h"
#include "platform/process.h"

std::string RundllProgramPath() { return FindRundllProgram(platform::GetExecutablePath()); }
