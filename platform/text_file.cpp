#include "platform/text_file.h"

#include <cerrno>
#include <cstdio>
#include <memory>

#include "platform/native_path.h"

namespace platform {
namespace {

struct FileCloser {
    void operator()(FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

SysStatus OpenForRead(std::string_view gbkPath, FilePtr& file) {
    std::string native;
    if (!NativePath(gbkPath, native)) return SysStatus::Failed("decode path", EINVAL);
    file.reset(std::fopen(native.c_str(), "rb"));
    return file ? SysStatus::Ok() : SysStatus::Failed("fopen", errno);
}

}  // namespace

SysStatus ReadFirstLine(std::string_view gbkPath, size_t maxChars, std::string& line) {
    line.clear();
    FilePtr f;
    if (SysStatus s = OpenForRead(gbkPath, f); !s) return s;
    int c;
    while (line.size() < maxChars && (c = std::fgetc(f.get())) != EOF) {
        if (c == '\r') {
            int next = std::fgetc(f.get());
            if (next == '\n')
                c = '\n';
            else if (next != EOF)
                std::ungetc(next, f.get());
        }
        line.push_back(static_cast<char>(c));
        if (c == '\n') break;
    }
    return SysStatus::Ok();
}

SysStatus ReadWholeFile(std::string_view gbkPath, std::string& data) {
    data.clear();
    FilePtr f;
    if (SysStatus s = OpenForRead(gbkPath, f); !s) return s;
    char buffer[65536];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof(buffer), f.get())) > 0) data.append(buffer, n);
    if (std::ferror(f.get())) return SysStatus::Failed("fread", errno);
    return SysStatus::Ok();
}

}  // namespace platform
