#include "download/tests/scripted_server.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

namespace qg_test {

std::string Pattern(size_t n) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 7 + 3) % 251);
    return s;
}

std::string ReadFile(const std::string& path, bool* exists) {
    std::ifstream in(path, std::ios::binary);
    if (exists) *exists = static_cast<bool>(in);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const std::string& path, const std::string& content) {
    std::ofstream(path, std::ios::binary) << content;
}

TempFolder::TempFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "qg-download-XXXXXX").string();
    char* made = mkdtemp(pattern.data());
    dir_ = made ? made : "/tmp";
}

TempFolder::~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
}

}  // namespace qg_test
