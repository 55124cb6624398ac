// Directories as whole trees, unique temporary directories, renames and file identity,
// addressed by the system's GBK paths (see platform/native_path.h).
//
// Errors: bool results, or an errno value (0 on success) where callers put the number
// into their own error texts.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

// True when the path names an existing directory.
bool IsDirectory(std::string_view gbkPath);

// The system's directory for temporary files ($TMPDIR, else /tmp), as a GBK path with a
// trailing "/".
std::string SystemTempDirectory();

// Creates a new directory with a unique name that starts with `prefix` in the system's
// temporary directory; `gbkPath` receives its path (no trailing "/").
bool CreateUniqueTempDirectory(std::string_view prefix, std::string& gbkPath);

// Deletes a directory with everything in it. A missing directory counts as success.
bool RemoveDirectoryTree(std::string_view gbkPath);

// Renames `from` over `to` (an existing file at `to` is replaced). When both are on
// different file systems the file is copied, then `from` is deleted. 0 or an errno value.
int RenameReplacing(std::string_view fromGbk, std::string_view toGbk);

// True when both paths name the same file: the same file on disk when both exist,
// otherwise the same absolute path, compared as file names are (ASCII case folded).
bool SameFile(std::string_view aGbk, std::string_view bGbk);

// The bytes an unprivileged process may still write on the file system holding the
// existing directory `gbkDir`. 0 or an errno value.
int AvailableDiskSpace(std::string_view gbkDir, uint64_t& bytes);

}  // namespace platform
