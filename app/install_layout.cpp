#include "app/install_layout.h"

#include <cstdlib>

#include "platform/directory_tree.h"
#include "platform/file_system.h"

namespace {

// The executable's folder with its "/", or empty.
std::string FolderOf(const std::string& exePath) {
    const size_t slash = exePath.rfind('/');
    return slash == std::string::npos ? std::string() : exePath.substr(0, slash + 1);
}

// PREFIX/ for an executable in PREFIX/bin, else empty.
std::string InstalledPrefix(const std::string& exePath) {
    const std::string folder = FolderOf(exePath);
    constexpr const char kBin[] = "/bin/";
    constexpr size_t kBinLength = sizeof kBin - 1;
    if (folder.size() < kBinLength || folder.compare(folder.size() - kBinLength, kBinLength, kBin))
        return std::string();
    return folder.substr(0, folder.size() - kBinLength + 1);
}

}  // namespace

std::string FindSkinFolder(const std::string& exePath) {
    if (const char* env = std::getenv("QUILLGATE_SKIN"); env != nullptr && *env != '\0') return env;
    if (platform::IsDirectory("skin")) return "skin";
    if (const std::string folder = FolderOf(exePath); !folder.empty()) {
        const std::string beside = folder + "skin";
        if (platform::IsDirectory(beside)) return beside;
    }
    if (const std::string prefix = InstalledPrefix(exePath); !prefix.empty()) {
        const std::string installed = prefix + QG_INSTALLED_SKIN_DIR;
        if (platform::IsDirectory(installed)) return installed;
    }
#ifdef QG_BUILD_SKIN_DIR
    return QG_BUILD_SKIN_DIR;
#else
    return "skin";
#endif
}

std::string FindRundllProgram(const std::string& exePath) {
    const std::string folder = FolderOf(exePath);
    if (folder.empty()) return std::string();
    const std::string beside = folder + "qg-rundll";
    if (platform::PathExists(beside)) return beside;
    if (const std::string prefix = InstalledPrefix(exePath); !prefix.empty()) {
        const std::string installed = prefix + QG_INSTALLED_HELPER;
        if (platform::PathExists(installed)) return installed;
    }
    return beside;
}
