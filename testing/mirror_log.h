// Test support: what engine/tests/mirror_server.py and testing/nginx_server.py logged, so
// that a test tells which of several servers delivered what.
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

// The body bytes that testing/nginx_server.py logged as sent for requests of `path` (with
// or without a query), in all; -1 when the log cannot be read.
inline int64_t NginxSentBytes(const std::filesystem::path& log, const std::string& path) {
    std::ifstream in(log);
    if (!in) return -1;
    int64_t total = 0;
    // "METHOD URI PROTOCOL "RANGE" STATUS BYTES"
    for (std::string method, uri, protocol, range, status, bytes;
         in >> method >> uri >> protocol >> range >> status >> bytes;) {
        if (uri.substr(0, uri.find('?')) == path) total += std::stoll(bytes);
    }
    return total;
}

}  // namespace testing_support
