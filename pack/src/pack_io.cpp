#include "pack_io.h"

#include "platform/native_path.h"

namespace AXP {

std::string ToNativePath(std::string_view gbkPath) {
    std::string native;
    if (platform::NativePath(gbkPath, native)) return native;
    return std::string(gbkPath);
}

}  // namespace AXP
