#include "platform/directory_tree.h"

#include <errno.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <filesystem>
#include <vector>

#include "platform/native_path.h"
#include "platform/text_encoding.h"

namespace platform {

bool IsDirectory(std::string_view gbkPath) {
    std::string native;
    struct stat st;
    return NativePath(gbkPath, native) && stat(native.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

SysStatus CreateUniqueTempDirectory(std::string_view gbkPrefix, std::string& gbkPath) {
    gbkPath.clear();
    const char* env = getenv("TMPDIR");
    std::string pattern = env != nullptr && env[0] != '\0' ? env : "/tmp";
    if (pattern.back() != '/') pattern += '/';
    std::string prefix;
    if (!GbkToUtf8(gbkPrefix, prefix)) return SysStatus::Failed("decode path", EINVAL);
    pattern += prefix + "XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (mkdtemp(buffer.data()) == nullptr) {
        const int error = errno;
        if (!Utf8ToGbk(pattern, gbkPath)) gbkPath.assign(gbkPrefix);
        return SysStatus::Failed("mkdtemp", error);
    }
    if (Utf8ToGbk(buffer.data(), gbkPath)) return SysStatus::Ok();
    rmdir(buffer.data());
    gbkPath.assign(gbkPrefix);
    return SysStatus::Failed("encode path", EILSEQ);
}

SysStatus RemoveDirectoryTree(std::string_view gbkPath) {
    std::string native;
    if (!NativePath(gbkPath, native)) return SysStatus::Failed("decode path", EINVAL);
    std::error_code ec;
    std::filesystem::remove_all(native, ec);
    return ec ? SysStatus::Failed("remove tree", ec.value()) : SysStatus::Ok();
}

bool SameFile(std::string_view aGbkPath, std::string_view bGbkPath) {
    std::string a, b;
    if (!NativePath(aGbkPath, a) || !NativePath(bGbkPath, b)) return aGbkPath == bGbkPath;
    struct stat sa, sb;
    if (stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0) {
        return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
    }
    return FileNamesEqual(AbsolutePath(a), AbsolutePath(b));
}

SysStatus AvailableDiskSpace(std::string_view gbkDir, uint64_t& bytes) {
    bytes = 0;
    std::string native;
    if (!NativePath(gbkDir, native)) return SysStatus::Failed("decode path", EINVAL);
    struct statvfs st;
    if (statvfs(native.empty() ? "." : native.c_str(), &st) != 0) {
        return SysStatus::Failed("statvfs", errno);
    }
    bytes = static_cast<uint64_t>(st.f_bavail) * st.f_frsize;
    return SysStatus::Ok();
}

}  // namespace platform
