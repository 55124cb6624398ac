#include "app/rundll_entry.h"

#include "platform/process.h"

std::string RundllProgramPath() {
    const std::string launcher = platform::GetExecutablePath();
    const size_t slash = launcher.rfind('/');
    if (slash == std::string::npos) return std::string();
    return launcher.substr(0, slash + 1) + "qg-rundll";
}
