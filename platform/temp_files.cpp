#include "platform/temp_files.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

namespace platform {

std::string TemporaryDirectory() {
    const char* tmp = std::getenv("TMPDIR");
    std::string dir = tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
    if (dir.back() != '/') dir += '/';
    return dir;
}

bool ReserveTempFile(std::string_view prefix, std::string_view suffix, std::string& nativePath) {
    std::string pattern = TemporaryDirectory();
    pattern.append(prefix).append("XXXXXX").append(suffix);
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    const int fd = mkstemps(buffer.data(), static_cast<int>(suffix.size()));
    if (fd < 0) return false;
    close(fd);
    nativePath.assign(buffer.data());
    return true;
}

bool DeleteNativeFile(const std::string& nativePath) {
    return unlink(nativePath.c_str()) == 0 || errno == ENOENT;
}

}  // namespace platform
