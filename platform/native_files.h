// Files addressed by native path: putting a finished file in place of another, and
// deleting one.
#pragma once

#include <string>

namespace platform {

// Renames `from` over `to` in one step, so that `to` is either the old or the new file,
// never a part. Both must lie on one file system (nothing is copied). Returns 0, or the
// errno value of the failure (then both files are as they were).
int RenameFileReplacing(const std::string& from, const std::string& to);

// Deletes a file by native path. True when it is gone afterwards (also when it never
// existed).
bool DeleteNativeFile(const std::string& nativePath);

}  // namespace platform
