// The few system calls behind the engine's logs: appending to a file, writing to the
// standard streams, a unique temporary file name and the calling thread's id.
//
// Errors: SysStatus with the failed step and its errno.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/sys_status.h"

namespace platform {

// A file that every text is appended to whole: opened with O_APPEND, so that lines from
// several processes never overwrite each other. Not copyable; closed by the destructor.
class AppendFile {
  public:
    // Opens `nativePath` for writing, creating it when missing; `truncate` empties it.
    static SysStatus Open(const std::string& nativePath, bool truncate,
                          std::unique_ptr<AppendFile>& out);
    ~AppendFile();
    AppendFile(const AppendFile&) = delete;
    AppendFile& operator=(const AppendFile&) = delete;

    // Writes all of `text` at the end of the file (retrying short writes and EINTR).
    SysStatus Append(std::string_view text);

  private:
    explicit AppendFile(int fd) : fd_(fd) {}
    int fd_;
};

SysStatus WriteToStandardOutput(std::string_view text);
SysStatus WriteToStandardError(std::string_view text);

// Creates a new empty file named PREFIX + six random characters + SUFFIX in the
// temporary directory ($TMPDIR, else /tmp) and gives its native path.
SysStatus CreateUniqueTempFile(const std::string& prefix, const std::string& suffix,
                               std::string& nativePath);

// The kernel's id of the calling thread (unique in the system while the thread lives).
uint64_t KernelThreadId();

}  // namespace platform
