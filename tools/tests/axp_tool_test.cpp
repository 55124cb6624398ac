// Runs the built axp binary (path from AXP_BINARY) and checks its packs with the library.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "axp/crc.h"
#include "axp/pack_file.h"
#include "testing/temp_dir.h"

namespace {

namespace fs = std::filesystem;

struct Result {
    int status = -1;
    std::string out;
};

std::string Quote(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

class AxpToolTest : public ::testing::Test {
  protected:
    // Runs axp with the arguments in dir_; stdout captured, stderr to `err_`.
    Result Run(const std::vector<std::string>& args) {
        std::string cmd = "cd " + Quote(dir_.string()) + " && " + Quote(AXP_BINARY);
        for (const auto& a : args) cmd += " " + Quote(a);
        cmd += " 2>" + Quote((dir_ / "stderr.txt").string());
        Result r;
        FILE* p = popen(cmd.c_str(), "r");
        if (!p) return r;
        std::array<char, 4096> buf;
        size_t n;
        while ((n = fread(buf.data(), 1, buf.size(), p)) > 0) r.out.append(buf.data(), n);
        const int st = pclose(p);
        r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
        std::ifstream e(dir_ / "stderr.txt");
        err_.assign(std::istreambuf_iterator<char>(e), std::istreambuf_iterator<char>());
        return r;
    }
    void Write(const std::string& rel, const std::string& data) {
        fs::create_directories((dir_ / rel).parent_path());
        std::ofstream(dir_ / rel, std::ios::binary) << data;
    }

    testing_support::TempDir temp_{"axp_tool"};
    const fs::path& dir_ = temp_.path();
    std::string err_;
};

std::string Bytes(size_t n, uint32_t seed, bool text) {
    std::mt19937 rng(seed);
    std::string s(n, '\0');
    for (auto& c : s)
        c = text ? static_cast<char>("abcde \r\n"[rng() % 8]) : static_cast<char>(rng());
    return s;
}

TEST_F(AxpToolTest, HelpDocumentsEveryCommand) {
    Result r = Run({"--help"});
    EXPECT_EQ(r.status, 0);
    for (const char* c :
         {"create", "add", "rm", "cat", "extract", "ls", "info", "check", "hash", "crc"}) {
        EXPECT_NE(r.out.find(std::string("axp ") + c), std::string::npos) << c;
    }
    EXPECT_EQ(Run({"bogus"}).status, 2);
}

TEST_F(AxpToolTest, RoundTripOfManySizesWithEachType) {
    const std::vector<size_t> sizes = {0, 1, 255, 256, 257, 4095, 70000, 600000};
    for (int type = 0; type <= 3; ++type) {
        const std::string pack = "t" + std::to_string(type) + ".pak";
        std::vector<std::pair<std::string, std::string>> files;
        for (size_t i = 0; i < sizes.size(); ++i) {
            const std::string rel =
                "src/sub" + std::to_string(i % 3) + "/f" + std::to_string(i) + ".bin";
            files.emplace_back(rel,
                               Bytes(sizes[i], static_cast<uint32_t>(i * 10 + type), i % 2 == 0));
            Write(rel, files.back().second);
        }
        ASSERT_EQ(Run({"add", pack, "src", "--type", std::to_string(type)}).status, 0) << err_;
        Result check = Run({"check", pack});
        EXPECT_EQ(check.status, 0) << err_;
        for (const auto& [rel, data] : files) {
            Result cat = Run({"cat", pack, rel});
            ASSERT_EQ(cat.status, 0) << err_;
            EXPECT_EQ(cat.out, data) << rel << " type " << type;
        }
        // The library sees the same.
        AXP::PackFile p;
        ASSERT_TRUE(p.Open((dir_ / pack).string(), true));
        for (const auto& [rel, data] : files) {
            EXPECT_EQ(p.GetCompressType(rel), type);
            EXPECT_EQ(p.GetFileSize(rel, false), data.size());
        }
        // Extract everything and compare.
        ASSERT_EQ(Run({"extract", pack, "out" + std::to_string(type)}).status, 0) << err_;
        for (const auto& [rel, data] : files) {
            std::ifstream in(dir_ / ("out" + std::to_string(type)) / rel, std::ios::binary);
            std::string got((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            EXPECT_EQ(got, data) << rel;
        }
    }
}

TEST_F(AxpToolTest, ReplaceRemoveListAndCatalogue) {
    Write("a.txt", "first");
    Write("B.TXT", "second");
    ASSERT_EQ(Run({"create", "p.pak"}).status, 0) << err_;
    EXPECT_EQ(Run({"check", "p.pak"}).status, 0) << err_;
    ASSERT_EQ(Run({"add", "p.pak", "a.txt", "B.TXT"}).status, 0) << err_;
    Write("a.txt",
          "replaced content, longer than before......................................"
          "........................................................................"
          "........................................................................"
          "..................................................");
    ASSERT_EQ(Run({"add", "p.pak", "a.txt", "--type", "2"}).status, 0) << err_;
    ASSERT_EQ(Run({"add", "p.pak", "a.txt", "--name", "Dir\\Renamed.TXT"}).status, 0) << err_;
    Result cat = Run({"cat", "p.pak", "(list)"});
    ASSERT_EQ(cat.status, 0);
    char l1[64], l2[64], l3[64];
    const std::string replaced = Bytes(0, 0, false);
    std::ifstream in(dir_ / "a.txt", std::ios::binary);
    std::string a((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::snprintf(l1, sizeof(l1), "a.txt|%08X|%08X\r\n", static_cast<unsigned>(a.size()),
                  AXP::Crc(a.data(), a.size()));
    std::snprintf(l2, sizeof(l2), "b.txt|%08X|%08X\r\n", 6u, AXP::Crc("second", 6));
    std::snprintf(l3, sizeof(l3), "dir/renamed.txt|%08X|%08X\r\n", static_cast<unsigned>(a.size()),
                  AXP::Crc(a.data(), a.size()));
    EXPECT_EQ(cat.out, std::string("3\r\n") + l1 + l2 + l3);
    EXPECT_EQ(Run({"check", "p.pak"}).status, 0) << err_;

    Result ls = Run({"ls", "p.pak"});
    ASSERT_EQ(ls.status, 0);
    EXPECT_NE(ls.out.find("a.txt\t" + std::to_string(a.size()) + "\t"), std::string::npos)
        << ls.out;
    EXPECT_NE(ls.out.find("\t2\t"), std::string::npos) << ls.out;

    ASSERT_EQ(Run({"rm", "p.pak", "B.txt"}).status, 0) << err_;
    EXPECT_EQ(Run({"check", "p.pak"}).status, 0) << err_;
    Result missing = Run({"rm", "p.pak", "nope"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(err_.find("error 1: nope"), std::string::npos) << err_;
    Result info = Run({"info", "p.pak"});
    ASSERT_EQ(info.status, 0);
    EXPECT_NE(info.out.find("editing flag       0"), std::string::npos) << info.out;
    EXPECT_NE(info.out.find("free blocks"), std::string::npos);
    Result bad = Run({"cat", "p.pak", "b.txt"});
    EXPECT_EQ(bad.status, 1);
    EXPECT_NE(err_.find("error 1"), std::string::npos);
}

TEST_F(AxpToolTest, CheckReportsTheLibraryError) {
    Write("x", "x");
    ASSERT_EQ(Run({"add", "p.pak", "x"}).status, 0);
    // Add an entry behind the tool's back: no longer in the catalogue.
    {
        AXP::PackFile p;
        ASSERT_TRUE(p.Open((dir_ / "p.pak").string(), false));
        ASSERT_TRUE(p.AddFile("zz", 2, "stray", true, false, 0, 0));
    }
    Result r = Run({"check", "p.pak"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(err_.find("error 2: unref hashnode("), std::string::npos) << err_;
    EXPECT_EQ(Run({"check", "missing.pak"}).status, 1);
    EXPECT_NE(err_.find("error 3"), std::string::npos) << err_;
}

TEST_F(AxpToolTest, GbkNamesFromUtf8) {
    Write("数据/文件.txt", "gbk");
    ASSERT_EQ(Run({"add", "g.pak", "数据"}).status, 0) << err_;
    AXP::PackFile p;
    ASSERT_TRUE(p.Open((dir_ / "g.pak").string(), true));
    EXPECT_TRUE(p.Exists("\xCA\xFD\xBE\xDD/\xCE\xC4\xBC\xFE.txt"));
    Result cat = Run({"cat", "g.pak", "数据\\文件.TXT"});
    EXPECT_EQ(cat.status, 0) << err_;
    EXPECT_EQ(cat.out, "gbk");
    Result ls = Run({"ls", "g.pak"});
    EXPECT_NE(ls.out.find("数据/文件.txt\t3\t3\t0\t"), std::string::npos) << ls.out;
}

TEST_F(AxpToolTest, HashAndCrc) {
    Result h = Run({"hash", "Data\\UI\\Main.TGA"});
    EXPECT_EQ(h.status, 0);
    EXPECT_EQ(h.out, "data/ui/main.tga 10671 98FF87DB AE26FDEE\n");
    Write("nine", "123456789");
    Result c = Run({"crc", "nine"});
    EXPECT_EQ(c.status, 0);
    EXPECT_EQ(c.out, "5FA0DE0F\n");
    EXPECT_EQ(Run({"crc", "missing"}).status, 1);
}

TEST_F(AxpToolTest, AddRefusesFilesOutsideTheRoot) {
    Write("in/a", "a");
    Write("out/b", "b");
    EXPECT_EQ(Run({"add", "p.pak", "out/b", "--root", "in"}).status, 2);
    ASSERT_EQ(Run({"add", "p.pak", "in/a", "--root", "in"}).status, 0) << err_;
    Result cat = Run({"cat", "p.pak", "a"});
    EXPECT_EQ(cat.out, "a");
}

}  // namespace
