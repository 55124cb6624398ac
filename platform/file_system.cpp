#include "platform/file_system.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cstdio>
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

bool MakeWritable(std::string_view gbkPath) {
    std::string native;
    struct stat st;
    if (!NativePath(gbkPath, native) || stat(native.c_str(), &st) != 0) return false;
    return chmod(native.c_str(), st.st_mode | S_IWUSR) == 0;
}

bool CopyFileOver(std::string_view fromGbk, std::string_view toGbk) {
    std::string from, to;
    if (!NativePath(fromGbk, from) || !NativePath(toGbk, to)) return false;
    int in = open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) return false;
    struct stat st;
    if (fstat(in, &st) != 0) {
        close(in);
        return false;
    }
    const std::string temp = to + ".part";
    int out = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, st.st_mode & 07777);
    if (out < 0) {
        close(in);
        return false;
    }
    bool ok = true;
    char buffer[1 << 16];
    for (;;) {
        ssize_t n = read(in, buffer, sizeof(buffer));
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            ok = false;
            break;
        }
        for (ssize_t done = 0; done < n;) {
            ssize_t w = write(out, buffer + done, static_cast<size_t>(n - done));
            if (w < 0 && errno == EINTR) continue;
            if (w <= 0) {
                ok = false;
                break;
            }
            done += w;
        }
        if (!ok) break;
    }
    close(in);
    ok = fchmod(out, st.st_mode & 07777) == 0 && ok;
    ok = close(out) == 0 && ok;
    if (ok) ok = rename(temp.c_str(), to.c_str()) == 0;
    if (!ok) unlink(temp.c_str());
    return ok;
}

bool WriteFileReplacing(std::string_view gbkPath, std::string_view data, bool executable) {
    std::string native;
    if (!NativePath(gbkPath, native)) return false;
    const std::string temp = native + ".part";
    int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, executable ? 0755 : 0644);
    if (fd < 0) return false;
    bool ok = true;
    for (size_t done = 0; ok && done < data.size();) {
        ssize_t w = write(fd, data.data() + done, data.size() - done);
        if (w < 0 && errno == EINTR) continue;
        ok = w > 0;
        if (ok) done += static_cast<size_t>(w);
    }
    ok = fsync(fd) == 0 && ok;
    ok = close(fd) == 0 && ok;
    if (ok) ok = rename(temp.c_str(), native.c_str()) == 0;
    if (!ok) unlink(temp.c_str());
    return ok;
}

bool FreeDiskBytes(std::string_view gbkPath, uint64_t& bytes) {
    std::string native;
    if (!NativePath(gbkPath, native)) return false;
    if (native.empty()) native.push_back('.');  // not = ".": a GCC 12 -Wrestrict false alarm at -O2
    struct statvfs vfs;
    if (statvfs(native.c_str(), &vfs) != 0) return false;
    bytes = static_cast<uint64_t>(vfs.f_bavail) * vfs.f_frsize;
    return true;
}

}  // namespace platform
