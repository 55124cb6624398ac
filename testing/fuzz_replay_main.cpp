// Replaces libFuzzer's main() when the fuzz targets are built with the tests: every file
// named on the command line, or found directly in a folder named there, is given once to
// the target. A crash or sanitizer report fails the ctest test that runs it; a run that
// found no input at all fails too, so a moved corpus is noticed.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/directory_tree.h"
#include "platform/file_system.h"
#include "platform/text_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

std::vector<std::string> InputsOf(const std::string& path) {
    if (!platform::IsDirectory(path)) return {path};
    std::vector<platform::DirectoryEntry> entries;
    std::vector<std::string> files;
    if (!platform::ListDirectory(path, entries)) return files;
    for (const auto& entry : entries) {
        if (!entry.isDirectory) files.push_back(path + "/" + entry.gbkName);
    }
    std::sort(files.begin(), files.end());
    return files;
}

}  // namespace

int main(int argc, char** argv) {
    size_t replayed = 0;
    for (int i = 1; i < argc; ++i) {
        for (const std::string& file : InputsOf(argv[i])) {
            std::string bytes;
            if (!platform::ReadWholeFile(file, bytes)) {
                std::fprintf(stderr, "cannot read %s\n", file.c_str());
                return 1;
            }
            std::fprintf(stderr, "replay %s (%zu bytes)\n", file.c_str(), bytes.size());
            LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
            ++replayed;
        }
    }
    std::fprintf(stderr, "%zu inputs replayed\n", replayed);
    return replayed > 0 ? 0 : 1;
}
