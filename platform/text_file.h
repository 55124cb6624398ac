// Small whole-file and first-line reads for the launcher's local text files, addressed
// by the system's GBK paths.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// Reads the first line as a C runtime text-mode read of at most `maxChars` characters
// does: the line end is kept when it fits, and "\r\n" reads as "\n". False when the file
// cannot be opened.
bool ReadFirstLine(std::string_view gbkPath, size_t maxChars, std::string& line);

// Reads a whole file (binary). False when it cannot be opened or read.
bool ReadWholeFile(std::string_view gbkPath, std::string& data);

}  // namespace platform
