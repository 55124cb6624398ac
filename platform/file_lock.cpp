#include "platform/file_lock.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "platform/native_path.h"

namespace platform {
namespace {

// Names the inherited descriptor of a lock handed down to a started process.
constexpr const char* kInheritedLockVariable = "QUILLGATE_LOCK_FD";

bool SameFile(int fd, const std::string& nativePath) {
    struct stat a, b;
    return fstat(fd, &a) == 0 && stat(nativePath.c_str(), &b) == 0 && a.st_dev == b.st_dev &&
           a.st_ino == b.st_ino;
}

// The descriptor handed down for `nativePath`, already locked by the starting process
// (flock belongs to the shared open file, so locking it again only confirms it); -1 when
// there is none.
int TakeInheritedLock(const std::string& nativePath) {
    const char* text = std::getenv(kInheritedLockVariable);
    if (text == nullptr) return -1;
    char* end = nullptr;
    const long fd = std::strtol(text, &end, 10);
    unsetenv(kInheritedLockVariable);  // never passed on to the game or anything else
    if (end == text || *end != '\0' || fd < 3 || fd > 65535) return -1;
    const int descriptor = static_cast<int>(fd);
    if (fcntl(descriptor, F_GETFD) < 0 || !SameFile(descriptor, nativePath)) return -1;
    if (flock(descriptor, LOCK_EX | LOCK_NB) != 0) return -1;
    fcntl(descriptor, F_SETFD, FD_CLOEXEC);
    return descriptor;
}

}  // namespace

FileLock::~FileLock() {
    if (fd_ >= 0) close(fd_);
}

FileLock::Result FileLock::Acquire(std::string_view gbkPath) {
    if (fd_ >= 0) return Result::Acquired;
    std::string native;
    if (!NativePath(gbkPath, native)) return Result::Failed;
    fd_ = TakeInheritedLock(native);
    if (fd_ >= 0) return Result::Acquired;
    return AcquireNative(native);
}

FileLock::Result FileLock::AcquireNative(const std::string& nativePath) {
    if (fd_ >= 0) return Result::Acquired;
    const int fd = open(nativePath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return Result::Failed;
    int rc;
    do {
        rc = flock(fd, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        const bool busy = errno == EWOULDBLOCK;
        close(fd);
        return busy ? Result::Busy : Result::Failed;
    }
    fd_ = fd;
    return Result::Acquired;
}

bool FileLock::ShareWithNextProcess() {
    if (fd_ < 0) return false;
    if (fcntl(fd_, F_SETFD, 0) != 0) return false;
    return setenv(kInheritedLockVariable, std::to_string(fd_).c_str(), 1) == 0;
}

void FileLock::StopSharing() {
    unsetenv(kInheritedLockVariable);
    if (fd_ >= 0) fcntl(fd_, F_SETFD, FD_CLOEXEC);
}

}  // namespace platform
