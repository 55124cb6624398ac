// Test support: what engine/tests/mirror_server.py wrote beside the folder it serves, named
// after its mode and port, so that a test tells which of several mirrors delivered what.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

namespace testing_support {

// ROOT/MODE-PORT.SUFFIX for a mirror of ROOT/site: ".count" one line per request,
// ".sent" one line "PATH BYTES" per answered body.
inline std::filesystem::path MirrorLog(const std::filesystem::path& root, const std::string& mode,
                                       int port, const char* suffix) {
    return root / (mode + "-" + std::to_string(port) + suffix);
}

// The bytes the mirror wrote to its clients, in all (what they kept may be less).
inline int64_t MirrorSentBytes(const std::filesystem::path& root, const std::string& mode,
                               int port) {
    std::ifstream in(MirrorLog(root, mode, port, ".sent"));
    int64_t total = 0;
    std::string path;
    for (int64_t bytes = 0; in >> path >> bytes;) total += bytes;
    return total;
}

}  // namespace testing_support
