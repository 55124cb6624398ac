#include "platform/native_files.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace platform {

int RenameFileReplacing(const std::string& from, const std::string& to) {
    return std::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

bool DeleteNativeFile(const std::string& nativePath) {
    return unlink(nativePath.c_str()) == 0 || errno == ENOENT;
}

}  // namespace platform
