#include "platform/file_system.h"

#include <errno.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <string>

#include "platform/native_path.h"

namespace platform {

bool CreateDirectoryIfMissing(std::string_view gbkPath) {
    std::string native;
    if (!NativePath(gbkPath, native)) return false;
    if (mkdir(native.c_str(), 0755) == 0) return true;
    struct stat st;
    return errno == EEXIST && stat(native.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool PathExists(std::string_view gbkPath) {
    std::string native;
    struct stat st;
    return NativePath(gbkPath, native) && stat(native.c_str(), &st) == 0;
}

bool DeleteFileAt(std::string_view gbkPath) {
    std::string native;
    return NativePath(gbkPath, native) && unlink(native.c_str()) == 0;
}

bool FreeDiskBytes(std::string_view gbkPath, uint64_t& bytes) {
    std::string native;
    if (!NativePath(gbkPath, native)) return false;
    if (native.empty()) native = ".";
    struct statvfs vfs;
    if (statvfs(native.c_str(), &vfs) != 0) return false;
    bytes = static_cast<uint64_t>(vfs.f_bavail) * vfs.f_frsize;
    return true;
}

}  // namespace platform
