// Helpers of the tests of packs and patch packages: a per-test temporary directory and
// byte patterns.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "testing/temp_dir.h"

namespace axp_test {

namespace fs = std::filesystem;

// A test with a fresh temporary directory of its own (testing_support::TempDir).
class TempDirTest : public ::testing::Test {
  protected:
    std::string Path(const std::string& name) const { return temp_ / name; }

    testing_support::TempDir temp_{"axp"};
    const fs::path& dir_ = temp_.path();
};

// prefix + number (built by appending: GCC 12 warns falsely (-Wrestrict) on
// "literal" + std::to_string(...) at -O2).
inline std::string Numbered(const char* prefix, uint64_t n) {
    std::string s(prefix);
    s += std::to_string(n);
    return s;
}

inline std::vector<uint8_t> RandomBytes(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> v(n);
    for (auto& b : v) b = static_cast<uint8_t>(rng());
    return v;
}

// Compressible bytes: words from a small vocabulary with some noise.
inline std::vector<uint8_t> TextBytes(size_t n, uint32_t seed) {
    static const char* words[] = {"pack ",    "entry ",    "block ",     "hash ",      "slot ",
                                  "data\r\n", "launcher ", "quillgate ", "0123456789 "};
    std::mt19937 rng(seed);
    std::vector<uint8_t> v;
    v.reserve(n);
    while (v.size() < n) {
        const char* w = words[rng() % 9];
        while (*w && v.size() < n) v.push_back(static_cast<uint8_t>(*w++));
    }
    return v;
}

inline std::vector<uint8_t> ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)),
                                std::istreambuf_iterator<char>());
}

inline void WriteFileBytes(const std::string& path, const std::vector<uint8_t>& data) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data.data()),
              static_cast<std::streamsize>(data.size()));
}

}  // namespace axp_test
