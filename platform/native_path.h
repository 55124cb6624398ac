// The system addresses files by narrow GBK paths with "\" separators, relative to the
// client directory, and expects the case-insensitive lookups of the Windows file system.
// This maps such a path to the native UTF-8 path that names the same file here.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// Maps a GBK path to a native path:
//  1. decodes GBK to UTF-8 first (a GBK trail byte may be 0x5C, the "\" byte),
//  2. turns every "\" into "/",
//  3. resolves each component that exists under another case to its name on disk;
//     from the first component that does not exist on, the given case is kept (a file
//     about to be created gets exactly the name it was given).
// Relative paths stay relative to the current directory. Returns false when the bytes
// are not valid GBK.
bool NativePath(std::string_view gbkPath, std::string& nativePath);

// The same for a path that is already UTF-8 (for example from the command line): "\"
// becomes "/" and components are resolved case-insensitively.
std::string ResolveUtf8Path(std::string_view utf8Path);

// `nativePath` made absolute against the current directory, with "." and ".."
// components folded. Empty when the current directory cannot be read.
std::string AbsolutePath(const std::string& nativePath);

// Case-insensitive comparison of file names as the Windows file system does it for the
// names this system uses (ASCII letters fold; other characters compare exactly).
bool FileNamesEqual(std::string_view a, std::string_view b);

}  // namespace platform
