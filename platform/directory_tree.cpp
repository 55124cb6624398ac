#include "platform/directory_tree.h"

#include <errno.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <vector>

#include "platform/file_system.h"
#include "platform/native_path.h"
#include "platform/text_encoding.h"

namespace platform {

bool IsDirectory(std::string_view gbkPath) {
    std::string native;
    struct stat st;
    return NativePath(gbkPath, native) && stat(native.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

namespace {

std::string NativeTempDirectory() {
    const char* env = getenv("TMPDIR");
    std::string dir = env != nullptr && env[0] != '\0' ? env : "/tmp";
    if (dir.back() != '/') dir += '/';
    return dir;
}

}  // namespace

std::string SystemTempDirectory() {
    std::string gbk;
    if (!Utf8ToGbk(NativeTempDirectory(), gbk)) return "/tmp/";
    return gbk;
}

bool CreateUniqueTempDirectory(std::string_view prefix, std::string& gbkPath) {
    std::string native;
    if (!GbkToUtf8(prefix, native)) return false;
    std::string pattern = NativeTempDirectory() + native + "XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (mkdtemp(buffer.data()) == nullptr) return false;
    if (Utf8ToGbk(buffer.data(), gbkPath)) return true;
    rmdir(buffer.data());
    return false;
}

bool RemoveDirectoryTree(std::string_view gbkPath) {
    std::string native;
    if (!NativePath(gbkPath, native)) return false;
    std::error_code ec;
    std::filesystem::remove_all(native, ec);
    return !ec;
}

int RenameReplacing(std::string_view fromGbk, std::string_view toGbk) {
    std::string from, to;
    if (!NativePath(fromGbk, from) || !NativePath(toGbk, to)) return EINVAL;
    if (rename(from.c_str(), to.c_str()) == 0) return 0;
    if (errno != EXDEV) return errno;
    // Another file system (the system's temporary directory often is one): copy, then drop
    // the source.
    if (!CopyFileOver(fromGbk, toGbk)) return errno != 0 ? errno : EIO;
    unlink(from.c_str());
    return 0;
}

bool SameFile(std::string_view aGbk, std::string_view bGbk) {
    std::string a, b;
    if (!NativePath(aGbk, a) || !NativePath(bGbk, b)) return aGbk == bGbk;
    struct stat sa, sb;
    if (stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0) {
        return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
    }
    return FileNamesEqual(AbsolutePath(a), AbsolutePath(b));
}

int AvailableDiskSpace(std::string_view gbkDir, uint64_t& bytes) {
    bytes = 0;
    std::string native;
    if (!NativePath(gbkDir, native)) return EINVAL;
    struct statvfs st;
    if (statvfs(native.c_str(), &st) != 0) return errno;
    bytes = static_cast<uint64_t>(st.f_bavail) * st.f_frsize;
    return 0;
}

}  // namespace platform
