// Files in the temporary directory, and deleting files by native path.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// $TMPDIR when it is set and not empty, else /tmp; always ends with "/".
std::string TemporaryDirectory();

// Creates an empty file named `prefix` + six unique characters + `suffix` in the
// temporary directory and returns its native path. The name belongs to the caller (no
// other call returns it while the file exists), who deletes it. False when the directory
// is not writable.
bool ReserveTempFile(std::string_view prefix, std::string_view suffix, std::string& nativePath);

// Deletes a file by native path. True when it is gone afterwards (also when it never
// existed).
bool DeleteNativeFile(const std::string& nativePath);

}  // namespace platform
