// Files and directories addressed by the system's GBK paths (see platform/native_path.h),
// on top of the file-system seam of platform/file.h.
//
// Errors: a SysStatus naming the failed step and its errno; plain queries answer bool.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file.h"
#include "platform/sys_status.h"

namespace platform {

// Creates one directory; an existing directory counts as success.
SysStatus CreateDirectoryIfMissing(std::string_view gbkPath);

// True when the path names an existing file or directory.
bool PathExists(std::string_view gbkPath);

// Deletes a file; a missing file is a failure (ENOENT).
SysStatus DeleteFileAt(std::string_view gbkPath);

struct DirectoryEntry {
    std::string gbkName;
    bool isDirectory = false;
};

// The entries of a directory (without "." and ".."), names in GBK; names that GBK cannot
// hold are left out.
SysStatus ListDirectory(std::string_view gbkPath, std::vector<DirectoryEntry>& entries);

// True when the path names a file of at least `bytes` bytes.
bool FileSizeAtLeast(std::string_view gbkPath, uint64_t bytes);

// The size, last-write time (nanoseconds since 1970) and permission bits of a regular file.
struct FileFacts {
    uint64_t size = 0;
    int64_t lastWriteNs = 0;
    uint32_t mode = 0;  // e.g. 0755
};
SysStatus GetFileFacts(std::string_view gbkPath, FileFacts& facts);

// Renames a file or directory over `toGbkPath` in one step (both on one file system).
SysStatus RenamePath(std::string_view fromGbkPath, std::string_view toGbkPath);

// Sets the permission bits of a file (e.g. 0755).
SysStatus SetFileMode(std::string_view gbkPath, uint32_t mode);

// Clears a read-only state so that the file can be replaced or deleted.
SysStatus MakeWritable(std::string_view gbkPath);

// Copies a file over `toGbkPath`, keeping the permission bits of `fromGbkPath` (the run
// bit of an executable included). The copy is written beside the target, flushed and
// renamed over it, so the target is either the old or the complete new file, also after
// a power cut.
SysStatus CopyFileOver(std::string_view fromGbkPath, std::string_view toGbkPath,
                       IFileSystem& fs = PosixFileSystem());

// Replaces `gbkPath` with `data` the same way: written beside it, flushed, then renamed
// over it. `executable` gives the new file the run bit.
SysStatus WriteFileReplacing(std::string_view gbkPath, std::string_view data,
                             bool executable = false, IFileSystem& fs = PosixFileSystem());
// The same for a native path (files outside the client folder: the user's settings).
SysStatus WriteNativeFileReplacing(const std::string& nativePath, std::string_view data,
                                   IFileSystem& fs = PosixFileSystem());

// Creates a new file that only its owner may read or write (a secret key), flushed to the
// disk. Never replaces anything: an existing file fails with EEXIST, and the secret is
// never readable by others, not even for a moment.
SysStatus CreatePrivateFile(std::string_view gbkPath, std::string_view data);

}  // namespace platform
