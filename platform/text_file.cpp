#include "platform/text_file.h"

#include <cstdio>
#include <memory>

#include "platform/native_path.h"

namespace platform {
namespace {

struct FileCloser {
    void operator()(FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

FilePtr OpenForRead(std::string_view gbkPath) {
    std::string native;
    if (!NativePath(gbkPath, native)) return nullptr;
    return FilePtr(std::fopen(native.c_str(), "rb"));
}

}  // namespace

bool ReadFirstLine(std::string_view gbkPath, size_t maxChars, std::string& line) {
    line.clear();
    FilePtr f = OpenForRead(gbkPath);
    if (!f) return false;
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
    return true;
}

bool ReadWholeFile(std::string_view gbkPath, std::string& data) {
    data.clear();
    FilePtr f = OpenForRead(gbkPath);
    if (!f) return false;
    char buffer[65536];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof(buffer), f.get())) > 0) data.append(buffer, n);
    return !std::ferror(f.get());
}

}  // namespace platform
