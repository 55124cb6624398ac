// Directory and file-system queries addressed by the system's GBK paths.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// Creates one directory; an existing directory counts as success.
bool CreateDirectoryIfMissing(std::string_view gbkPath);

// True when the path names an existing file or directory.
bool PathExists(std::string_view gbkPath);

// Deletes a file; false when it could not be deleted (a missing file included).
bool DeleteFileAt(std::string_view gbkPath);

struct DirectoryEntry {
    std::string name;  // GBK
    bool isDirectory = false;
};

// The entries of a directory (without "." and ".."), names in GBK; names that GBK cannot
// hold are left out. False when the directory cannot be read.
bool ListDirectory(std::string_view gbkPath, std::vector<DirectoryEntry>& entries);

// True when the path names a file of at least `bytes` bytes.
bool FileSizeAtLeast(std::string_view gbkPath, uint64_t bytes);

// Clears a read-only state so that the file can be replaced or deleted.
bool MakeWritable(std::string_view gbkPath);

// Copies a file over `to`, keeping the permission bits of `from` (the run bit of an
// executable included). The copy is written beside `to` and renamed over it, so `to` is
// either the old or the complete new file.
bool CopyFileOver(std::string_view fromGbk, std::string_view toGbk);

// Replaces `gbkPath` with `data`: written beside it, flushed, then renamed over it, so
// the path holds either the old or the complete new content, never a part. `executable`
// gives the new file the run bit.
bool WriteFileReplacing(std::string_view gbkPath, std::string_view data, bool executable = false);

// Bytes available to an unprivileged user on the file system holding `gbkPath`;
// false when the path cannot be queried.
bool FreeDiskBytes(std::string_view gbkPath, uint64_t& bytes);

}  // namespace platform
