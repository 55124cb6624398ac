// Private helpers: GBK library paths to native paths, and opening files through a
// platform::IFileSystem.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "platform/file.h"

namespace AXP {

// The native path of a GBK library path (platform::NativePath); when the bytes are not
// valid GBK the path is used as it is.
std::string ToNativePath(std::string_view gbkPath);

// True for the errno values of a full disk or quota (ENOSPC, EDQUOT).
bool IsDiskFull(int error);

// Sets the error of a failed write or create of `path` (errno `error`): 12 "File=%s, disk
// full (errno=%d)" when the disk or the quota is full, so that callers can tell the user
// to free space; else `otherwise` with "File=%s, WinErr: %d".
void SetWriteError(uint32_t otherwise, std::string_view path, int error);

}  // namespace AXP
