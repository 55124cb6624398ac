#include "platform/log_output.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

namespace platform {
namespace {

SysStatus WriteAll(int fd, std::string_view text) {
    while (!text.empty()) {
        const ssize_t n = write(fd, text.data(), text.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return SysStatus::Failed("write", errno);
        }
        text.remove_prefix(static_cast<size_t>(n));
    }
    return SysStatus::Ok();
}

}  // namespace

SysStatus AppendFile::Open(const std::string& nativePath, bool truncate,
                           std::unique_ptr<AppendFile>& out) {
    out.reset();
    const int flags = O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | (truncate ? O_TRUNC : 0);
    const int fd = open(nativePath.c_str(), flags, 0644);
    if (fd < 0) return SysStatus::Failed("open", errno);
    out.reset(new AppendFile(fd));
    return SysStatus::Ok();
}

AppendFile::~AppendFile() { close(fd_); }

SysStatus AppendFile::Append(std::string_view text) { return WriteAll(fd_, text); }

SysStatus WriteToStandardOutput(std::string_view text) { return WriteAll(STDOUT_FILENO, text); }

SysStatus WriteToStandardError(std::string_view text) { return WriteAll(STDERR_FILENO, text); }

SysStatus CreateUniqueTempFile(const std::string& prefix, const std::string& suffix,
                               std::string& nativePath) {
    const char* dir = std::getenv("TMPDIR");
    std::string pattern =
        std::string(dir && *dir ? dir : "/tmp") + "/" + prefix + "XXXXXX" + suffix;
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    const int fd = mkstemps(name.data(), static_cast<int>(suffix.size()));
    if (fd < 0) return SysStatus::Failed("mkstemps", errno);
    close(fd);
    nativePath.assign(name.data());
    return SysStatus::Ok();
}

uint64_t KernelThreadId() { return static_cast<uint64_t>(syscall(SYS_gettid)); }

}  // namespace platform
