// Small whole-file and first-line reads for the launcher's local text files, addressed
// by the system's GBK paths.
#pragma once

#include <string>
#include <string_view>

#include "platform/sys_status.h"

namespace platform {

// Reads the first line as a C runtime text-mode read of at most `maxChars` characters
// does: the line end is kept when it fits, and "\r\n" reads as "\n". Fails when the file
// cannot be opened.
SysStatus ReadFirstLine(std::string_view gbkPath, size_t maxChars, std::string& line);

// Reads a whole file (binary). Fails when it cannot be opened or read.
SysStatus ReadWholeFile(std::string_view gbkPath, std::string& data);

}  // namespace platform
