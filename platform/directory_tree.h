// Directories as whole trees, unique temporary directories, file identity and free space,
// addressed by the system's GBK paths (see platform/native_path.h).
//
// Errors: a SysStatus naming the failed step and its errno; plain queries answer bool.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/sys_status.h"

namespace platform {

// True when the path names an existing directory.
bool IsDirectory(std::string_view gbkPath);

// Creates a new directory with a unique name that starts with `gbkPrefix` in the system's
// directory for temporary files ($TMPDIR, else /tmp); `gbkPath` receives its path (no
// trailing "/"), or on failure the pattern that was tried, for the caller's error text.
SysStatus CreateUniqueTempDirectory(std::string_view gbkPrefix, std::string& gbkPath);

// Deletes a directory with everything in it. A missing directory counts as success.
SysStatus RemoveDirectoryTree(std::string_view gbkPath);

// True when both paths name the same file: the same file on disk when both exist,
// otherwise the same absolute path, compared as file names are (ASCII case folded).
bool SameFile(std::string_view aGbkPath, std::string_view bGbkPath);

// The bytes an unprivileged process may still write on the file system holding the
// existing directory `gbkDir` (empty: the current directory).
SysStatus AvailableDiskSpace(std::string_view gbkDir, uint64_t& bytes);

}  // namespace platform
