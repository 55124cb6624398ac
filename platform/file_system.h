// Directory and file-system queries addressed by the system's GBK paths.
#pragma once

#include <cstdint>
#include <string_view>

namespace platform {

// Creates one directory; an existing directory counts as success.
bool CreateDirectoryIfMissing(std::string_view gbkPath);

// True when the path names an existing file or directory.
bool PathExists(std::string_view gbkPath);

// Deletes a file; false when it could not be deleted (a missing file included).
bool DeleteFileAt(std::string_view gbkPath);

// Bytes available to an unprivileged user on the file system holding `gbkPath`;
// false when the path cannot be queried.
bool FreeDiskBytes(std::string_view gbkPath, uint64_t& bytes);

}  // namespace platform
