#include "platform/wine_drives.h"

#include <limits.h>
#include <stdlib.h>

namespace platform {

std::string WineDriveRoot(const std::string& prefix, char letter) {
    if (prefix.empty()) return std::string();
    if (letter >= 'A' && letter <= 'Z') letter = static_cast<char>(letter + 32);
    if (letter < 'a' || letter > 'z') return std::string();
    const std::string link = prefix + "/dosdevices/" + letter + ":";
    char resolved[PATH_MAX];
    if (realpath(link.c_str(), resolved) == nullptr) return std::string();
    return resolved;
}

}  // namespace platform
