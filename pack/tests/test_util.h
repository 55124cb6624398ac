// Shared helpers of the pack tests: a per-test temporary directory and byte patterns.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace axp_test {

namespace fs = std::filesystem;

class TempDirTest : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        dir_ = fs::temp_directory_path() /
               ("axp_" + std::to_string(getpid()) + "_" + info->test_suite_name() + "_" +
                info->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
    std::string Path(const std::string& name) const { return (dir_ / name).string(); }

    fs::path dir_;
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
    static const char* words[] = {"pack ", "entry ", "block ", "hash ", "slot ", "data\r\n",
                                  "launcher ", "quillgate ", "0123456789 "};
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
    out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

}  // namespace axp_test
