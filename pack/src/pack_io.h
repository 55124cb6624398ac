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

}  // namespace AXP
