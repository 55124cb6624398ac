#include "platform/user_folders.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

namespace platform {
namespace {

bool IsFolder(const std::string& nativePath) {
    struct stat st;
    return !nativePath.empty() && stat(nativePath.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string WithoutTrailingSlash(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

}  // namespace

std::string EnvironmentValue(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

std::string UserConfigFolder() {
    // Relative values are invalid by the base-directory rules and are ignored.
    if (std::string config = EnvironmentValue("XDG_CONFIG_HOME"); config.starts_with("/")) {
        return WithoutTrailingSlash(config);
    }
    std::string home = EnvironmentValue("HOME");
    if (!home.starts_with("/")) {
        const struct passwd* user = getpwuid(getuid());
        home = user != nullptr && user->pw_dir != nullptr ? user->pw_dir : "";
    }
    if (!home.starts_with("/")) return "";
    return WithoutTrailingSlash(home) + "/.config";
}

std::string RuntimeFolder() {
    if (std::string runtime = EnvironmentValue("XDG_RUNTIME_DIR"); IsFolder(runtime)) {
        return WithoutTrailingSlash(runtime);
    }
    if (std::string temp = EnvironmentValue("TMPDIR"); IsFolder(temp)) {
        return WithoutTrailingSlash(temp);
    }
    return "/tmp";
}

}  // namespace platform
