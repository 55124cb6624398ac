// Private helpers: GBK library paths to native paths, and opening files through a
// platform::IFileSystem.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "platform/file.h"

namespace AXP {

// The native path of a GBK library path (platform::NativePath); when the bytes are not
// valid GBK the path is used as it is.
std::string ToNativePath(std::string_view gbkPath);

// True for the errno values of a full disk or quota (ENOSPC, EDQUOT).
bool IsDiskFull(int error);

// Sets the error of a failed write or create of `path` (errno `error`): 12 "File=%s, disk
// full (errno=%d)" when the disk or the quota is full, so that callers can tell the user
// to free space; else `otherwise` with "File=%s, errno=%d".
void SetWriteError(uint32_t otherwise, std::string_view path, int error);

// Sets the error of a directory that could not be made: 12 "Path=%s, disk full
// (errno=%d)" for a full disk or quota, else 3 "Path=%s, errno=%d".
void SetDirectoryError(std::string_view path, int error);

// Makes the directory `gbkPath` through `fs` when it is missing, parents first. 0, or the
// errno value of the directory that could not be made (EINVAL for an empty path).
// Defined with the updater, whose path helpers it uses.
int MakeDirectoryChain(platform::IFileSystem& fs, std::string_view gbkPath);

// A file written beside its target as "<target>.~part" and renamed over the target only
// once complete: a failed, refused or killed write never leaves a short or wrong target,
// and the next run writes the same side file again. Failures set the error as
// SetWriteError does (3 for the create, 5 for writes, 12 for a full disk).
class PartFile {
  public:
    PartFile(platform::IFileSystem& fs, std::string target);
    ~PartFile() { Discard(); }
    PartFile(const PartFile&) = delete;
    PartFile& operator=(const PartFile&) = delete;

    bool Open();
    bool Write(uint64_t offset, const void* data, size_t size);
    // Flushes to the disk (with `sync`), closes and renames over the target.
    bool Commit(bool sync);
    // Deletes the side file (nothing once committed).
    void Discard();

  private:
    platform::IFileSystem& fs_;
    std::string target_;
    std::string part_;
    std::unique_ptr<platform::IFile> file_;
};

}  // namespace AXP
