#include "platform/native_path.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <vector>

#include "platform/ascii_text.h"
#include "platform/text_encoding.h"

namespace platform {
namespace {

bool Exists(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

// Looks for a directory entry of `dir` equal to `name` up to case. When several match
// (possible on a case-sensitive file system) the smallest name wins, so the choice is
// stable from run to run.
bool FindCaseless(const std::string& dir, const std::string& name, std::string& found) {
    DIR* d = opendir(dir.empty() ? "." : dir.c_str());
    if (d == nullptr) return false;
    bool any = false;
    while (dirent* e = readdir(d)) {
        std::string_view entry(e->d_name);
        if (!FileNamesEqual(entry, name)) continue;
        if (!any || entry < found) found.assign(entry);
        any = true;
    }
    closedir(d);
    return any;
}

}  // namespace

bool FileNamesEqual(std::string_view a, std::string_view b) {
    return EqualsIgnoringAsciiCase(a, b);
}

std::string ResolveUtf8Path(std::string_view utf8Path) {
    std::string path(utf8Path);
    std::replace(path.begin(), path.end(), '\\', '/');
    if (path.empty()) return path;

    std::string out;
    size_t pos = 0;
    if (path[0] == '/') {
        out = "/";
        pos = 1;
    }
    bool resolving = true;  // false once a component is missing: nothing below it exists
    while (pos <= path.size()) {
        size_t slash = path.find('/', pos);
        bool last = slash == std::string::npos;
        std::string component = path.substr(pos, last ? std::string::npos : slash - pos);
        pos = last ? path.size() + 1 : slash + 1;
        if (component.empty()) {
            // Repeated or trailing separators: keep a trailing one, fold repeated ones.
            if (last && !out.empty() && out.back() != '/') out.push_back('/');
            continue;
        }
        std::string dir = out;
        if (!out.empty() && out.back() != '/') out.push_back('/');
        if (resolving && component != "." && component != "..") {
            std::string candidate = out + component;
            if (!Exists(candidate)) {
                std::string found;
                if (FindCaseless(dir, component, found)) {
                    component = found;
                } else {
                    resolving = false;
                }
            }
        }
        out += component;
        if (!last) out.push_back('/');
    }
    return out;
}

std::string AbsolutePath(const std::string& nativePath) {
    std::error_code ec;
    std::filesystem::path p = std::filesystem::absolute(nativePath, ec);
    return ec ? std::string() : p.lexically_normal().string();
}

bool NativePath(std::string_view gbkPath, std::string& out) {
    std::string utf8;
    if (!GbkToUtf8(gbkPath, utf8)) {
        out.clear();
        return false;
    }
    out = ResolveUtf8Path(utf8);
    return true;
}

}  // namespace platform
