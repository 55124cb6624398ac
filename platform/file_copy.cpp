#include "platform/file_copy.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace platform {
namespace {

bool CopyContent(int in, int out) {
    for (;;) {
        const ssize_t n = copy_file_range(in, nullptr, out, nullptr, 1 << 30, 0);
        if (n == 0) return true;
        if (n > 0) continue;
        if (errno == EINTR) continue;
        if (errno != EXDEV && errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP)
            return false;
        // The kernel cannot copy between these files itself: copy through a buffer.
        char buffer[64 * 1024];
        for (;;) {
            const ssize_t r = read(in, buffer, sizeof(buffer));
            if (r == 0) return true;
            if (r < 0) {
                if (errno == EINTR) continue;
                return false;
            }
            for (ssize_t done = 0; done < r;) {
                const ssize_t w = write(out, buffer + done, static_cast<size_t>(r - done));
                if (w < 0) {
                    if (errno == EINTR) continue;
                    return false;
                }
                done += w;
            }
        }
    }
}

}  // namespace

bool MoveFileReplacing(const std::string& from, const std::string& to, int& error) {
    error = 0;
    if (rename(from.c_str(), to.c_str()) == 0) return true;
    if (errno != EXDEV) {
        error = errno;
        return false;
    }
    const int in = open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) {
        error = errno;
        return false;
    }
    const int out = open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (out < 0) {
        error = errno;
        close(in);
        return false;
    }
    bool ok = CopyContent(in, out);
    if (!ok) error = errno;
    close(in);
    if (close(out) != 0 && ok) {
        ok = false;
        error = errno;
    }
    if (!ok) {
        unlink(to.c_str());
        return false;
    }
    unlink(from.c_str());
    return true;
}

}  // namespace platform
