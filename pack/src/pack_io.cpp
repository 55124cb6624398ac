#include "pack_io.h"

#include <errno.h>

#include "axp/error.h"
#include "platform/native_path.h"

namespace AXP {

std::string ToNativePath(std::string_view gbkPath) {
    std::string native;
    if (platform::NativePath(gbkPath, native)) return native;
    return std::string(gbkPath);
}

bool IsDiskFull(int error) { return error == ENOSPC || error == EDQUOT; }

void SetWriteError(uint32_t otherwise, std::string_view path, int error) {
    if (IsDiskFull(error)) {
        SetLastError(kErrNoSpace, "File=%.*s, disk full (errno=%d)", static_cast<int>(path.size()),
                     path.data(), error);
    } else {
        SetLastError(otherwise, "File=%.*s, WinErr: %d", static_cast<int>(path.size()), path.data(),
                     error);
    }
}

}  // namespace AXP
