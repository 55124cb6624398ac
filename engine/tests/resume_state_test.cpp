#include "engine/resume_state.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "platform/file_fault.h"
#include "testing/temp_dir.h"

namespace engine {
namespace {

using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

struct ResumeFixture {
    TempDir dir{"qg_resume"};
    std::string target = dir / "game.pak";

    static FileDescription Description() {
        FileDescription d;
        d.blockSize = 1024;
        d.length = 10 * 1024 - 100;
        d.url = "http://127.0.0.1/patch/game.pak?a=b";
        d.referer = "http://127.0.0.1/";
        d.md5 = "0123456789ABCDEF0123456789ABCDEF";
        d.downloadMode = 2;
        return d;
    }
    static std::vector<Region> Map() {
        return {
            {0, 4, 4, RegionState::Confirmed, 3, 120},
            {4, 2, 5, RegionState::Downloading, 0, 0},
            {6, 3, 7, RegionState::Unconfirmed, 0, 0},
            {9, 1, 9, RegionState::Unscheduled, 0, 0},
        };
    }
    // The data file, long enough for the complete regions of Map().
    void WriteData() { WriteFile(target + kDataSuffix, std::string(4096, 'd')); }
    bool Exists(const std::string& suffix) const {
        return std::filesystem::exists(target + suffix);
    }
};

TEST(ResumeFiles, DescriptionRoundTrip) {
    ResumeFixture f;
    ResumeFiles files(f.target);
    FileDescription d = ResumeFixture::Description();
    d.length = (int64_t{3} << 32) + 7;  // past 32 bits, within the block limit
    d.md5.clear();
    ASSERT_TRUE(files.SaveDescription(d));
    FileDescription loaded;
    ASSERT_TRUE(files.LoadDescription(loaded));
    EXPECT_EQ(loaded.blockSize, d.blockSize);
    EXPECT_EQ(loaded.length, d.length);
    EXPECT_EQ(loaded.url, d.url);
    EXPECT_EQ(loaded.md5, "");
    EXPECT_EQ(loaded.referer, d.referer);
    EXPECT_EQ(loaded.downloadMode, 2);
    EXPECT_NE(
        ReadFile(files.DescriptionPath()).find("[FileInfo]\r\nBlockSize=1024\r\nDlMode=2\r\n"),
        std::string::npos);
}

TEST(ResumeFiles, RegionMapRoundTripKeepsCompleteRegionsAndReopensTheRest) {
    ResumeFixture f;
    f.WriteData();
    ResumeFiles files(f.target);
    ASSERT_TRUE(files.SaveRegionMap(ResumeFixture::Map()));
    EXPECT_EQ(ReadFile(files.RegionMapPath()),
              "[Completed.0]\r\nFrom=3\r\nLength=4\r\nStart=0\r\nUseTime=120\r\n\r\n"
              "[FileInfo]\r\nRegionCompleted=1\r\nRegionUnCompleted=3\r\n\r\n"
              "[UnCompleted.0]\r\nLength=2\r\nStart=4\r\n\r\n"
              "[UnCompleted.1]\r\nLength=3\r\nStart=6\r\n\r\n"
              "[UnCompleted.2]\r\nLength=1\r\nStart=9\r\n\r\n");
    std::vector<Region> loaded;
    ASSERT_TRUE(files.LoadRegionMap(ResumeFixture::Description(), loaded));
    const std::vector<Region> expected = {
        {0, 4, 4, RegionState::Confirmed, 3, 120},
        {4, 2, 4, RegionState::Unscheduled, 0, 0},
        {6, 3, 6, RegionState::Unscheduled, 0, 0},
        {9, 1, 9, RegionState::Unscheduled, 0, 0},
    };
    EXPECT_EQ(loaded, expected);

    // A shorter map replaces the longer one whole.
    ASSERT_TRUE(files.SaveRegionMap({{0, 10, 10, RegionState::Unscheduled, 0, 0}}));
    EXPECT_EQ(ReadFile(files.RegionMapPath()).find("UnCompleted.1"), std::string::npos);
}

TEST(ResumeFiles, UntrustworthyMapsAreRefusedWhole) {
    const std::string counts = "[FileInfo]\r\nRegionCompleted=1\r\nRegionUnCompleted=1\r\n";
    const std::string done = "[Completed.0]\r\nStart=0\r\nLength=2\r\nFrom=1\r\nUseTime=5\r\n";
    auto open = [](const std::string& start, const std::string& length) {
        return "[UnCompleted.0]\r\nStart=" + start + "\r\nLength=" + length + "\r\n";
    };
    struct Row {
        std::string name, map;
        bool accepted;
    } rows[] = {
        {"a sound map", counts + done + open("2", "8"), true},
        {"overlapping regions", counts + done + open("1", "3"), false},
        {"past the end of the file", counts + done + open("2", "9"), false},
        {"negative start", counts + done + open("-1", "1"), false},
        {"empty region", counts + done + open("5", "0"), false},
        {"number with junk", counts + done + open("2x", "3"), false},
        {"number too large", counts + done + open("2", "99999999999"), false},
        {"missing region section", counts + done, false},
        {"negative count", "[FileInfo]\r\nRegionCompleted=-1\r\nRegionUnCompleted=0\r\n", false},
        {"absurd count", "[FileInfo]\r\nRegionCompleted=0\r\nRegionUnCompleted=2000000000\r\n",
         false},
        {"no counts", done, false},
        {"complete region beyond the data file",
         counts + "[Completed.0]\r\nStart=0\r\nLength=6\r\nFrom=1\r\nUseTime=5\r\n" +
             open("6", "1"),
         false},
    };
    for (const Row& row : rows) {
        ResumeFixture f;
        f.WriteData();  // 4 blocks
        WriteFile(f.target + kRegionMapSuffix, row.map);
        ResumeFiles files(f.target);
        std::vector<Region> regions = {{0, 1, 0, RegionState::Unscheduled, 0, 0}};
        EXPECT_EQ(files.LoadRegionMap(ResumeFixture::Description(), regions), row.accepted)
            << row.name;
        EXPECT_EQ(regions.empty(), !row.accepted) << row.name;
    }
}

// A description is trusted only within the limits on block size, length and block count:
// anything else would have the task allocate per block for a file nobody could hold.
TEST(ResumeFiles, MissingBrokenOrHostileDescriptionStartsAfresh) {
    auto info = [](const std::string& blockSize, const std::string& length) {
        return "[FileInfo]\r\nBlockSize=" + blockSize + "\r\nLength=" + length +
               "\r\nDlMode=0\r\nURL=http://h/f\r\n";
    };
    struct Row {
        std::string name, text;
        bool accepted;
    } rows[] = {
        {"no file", "", false},
        {"no block size", "[FileInfo]\r\nLength=10\r\nDlMode=0\r\nURL=http://h/f\r\n", false},
        {"zero block size", info("0", "10"), false},
        {"negative block size", info("-4", "10"), false},
        {"length not a number", info("4", "ten"), false},
        {"negative length", info("4", "-1"), false},
        {"one-byte blocks of 2^50 bytes", info("1", "1125899906842624"), false},
        {"blocks past the count limit", info("1", std::to_string(kMaxBlocks + 1)), false},
        {"block size past its limit", info(std::to_string(kMaxBlockSize + 1), "10"), false},
        {"block size of 2^31-1", info("2147483647", "4294967294"), false},
        {"length past its limit",
         info(std::to_string(kMaxBlockSize), std::to_string(kMaxFileLength + 1)), false},
        {"length of 2^63-1", info("262144", "9223372036854775807"), false},
        {"length not known yet", info("262144", "0"), true},
        {"one-byte blocks up to the count limit", info("1", std::to_string(kMaxBlocks)), true},
        {"the largest file", info("262144", std::to_string(kMaxFileLength)), true},
    };
    for (const Row& row : rows) {
        ResumeFixture f;
        if (!row.text.empty()) WriteFile(f.target + kDescriptionSuffix, row.text);
        ResumeFiles files(f.target);
        FileDescription d;
        EXPECT_EQ(files.LoadDescription(d), row.accepted) << row.name;
    }
    // A map is not read against a description outside the limits either.
    ResumeFixture f;
    f.WriteData();
    ResumeFiles files(f.target);
    ASSERT_TRUE(files.SaveRegionMap({{0, 1, 0, RegionState::Unscheduled, 0, 0}}));
    FileDescription hostile = ResumeFixture::Description();
    hostile.blockSize = 1;
    hostile.length = int64_t{1} << 50;
    std::vector<Region> regions;
    EXPECT_FALSE(files.LoadRegionMap(hostile, regions));
    EXPECT_TRUE(regions.empty());
}

// A save cut short at any step (killed while writing, before the flush, at the rename)
// leaves the previous state loadable, and no stray file behind once saved again.
TEST(ResumeFiles, InterruptedSaveKeepsThePreviousState) {
    const std::vector<Region> before = ResumeFixture::Map();
    const std::vector<Region> after = {{0, 10, 10, RegionState::Confirmed, 1, 1}};
    struct Row {
        std::string name;
        std::function<void(platform::FaultInjectingFileSystem&)> arm;
    } rows[] = {
        {"killed at the write", [](auto& fs) { fs.FailWriteNumber(1, 5, true); }},
        {"flush fails", [](auto& fs) { fs.FailSyncs(5); }},
        {"killed at the rename", [](auto& fs) { fs.FailRenameNumber(1, 5, true); }},
        {"disk full", [](auto& fs) { fs.FailWriteNumber(1, 28); }},
    };
    for (const Row& row : rows) {
        ResumeFixture f;
        f.WriteData();
        platform::FaultInjectingFileSystem fs;
        {
            ResumeFiles files(f.target, fs);
            ASSERT_TRUE(files.SaveDescription(ResumeFixture::Description()));
            ASSERT_TRUE(files.SaveRegionMap(before));
            row.arm(fs);
            FileDescription changed = ResumeFixture::Description();
            changed.url = "http://127.0.0.1/other";
            EXPECT_FALSE(files.SaveDescription(changed)) << row.name;
            row.arm(fs);
            EXPECT_FALSE(files.SaveRegionMap(after)) << row.name;
        }
        ResumeFiles reader(f.target);
        FileDescription d;
        ASSERT_TRUE(reader.LoadDescription(d)) << row.name;
        EXPECT_EQ(d.url, ResumeFixture::Description().url) << row.name;
        std::vector<Region> loaded;
        ASSERT_TRUE(reader.LoadRegionMap(d, loaded)) << row.name;
        EXPECT_EQ(loaded.size(), before.size()) << row.name;
    }
}

TEST(ResumeFiles, DataIsWrittenAtAbsoluteOffsetsAndKeptAcrossOpens) {
    ResumeFixture f;
    const int64_t far = (int64_t{3} << 30) + 5;  // past 32 bits of offset
    {
        ResumeFiles files(f.target);
        EXPECT_EQ(files.WriteData(0, "x", 1), -1) << "not opened";
        ASSERT_TRUE(files.OpenData());
        EXPECT_EQ(files.WriteData(0, "head", 4), 4);
        EXPECT_EQ(files.WriteData(-1, "neg", 3), -1);
    }
    {
        ResumeFiles files(f.target);
        ASSERT_TRUE(files.OpenData());
        EXPECT_EQ(files.WriteData(far, "tail", 4), 4);
    }
    const std::string data = f.target + kDataSuffix;
    EXPECT_EQ(std::filesystem::file_size(data), static_cast<uintmax_t>(far + 4));
    std::ifstream in(data, std::ios::binary);
    char head[4], tail[4];
    in.read(head, 4);
    in.seekg(far);
    in.read(tail, 4);
    EXPECT_EQ(std::string(head, 4), "head");
    EXPECT_EQ(std::string(tail, 4), "tail");
}

TEST(ResumeFiles, FinishKeepsOrDiscardsExactlyTheRightFiles) {
    struct Row {
        std::string name;
        bool keep, targetExists, targetIsFolder;
        bool ok;
        std::string target;  // "" when it must not exist
        bool dataLeft;
    } rows[] = {
        {"keep", true, false, false, true, "new", false},
        {"keep over an old target", true, true, false, true, "new", false},
        {"keep over a folder", true, false, true, false, "", true},
        {"discard", false, false, false, true, "", false},
        {"discard beside an old target", false, true, false, true, "old", false},
    };
    for (const Row& row : rows) {
        ResumeFixture f;
        if (row.targetExists) WriteFile(f.target, "old");
        if (row.targetIsFolder) std::filesystem::create_directory(f.target);
        ResumeFiles files(f.target);
        ASSERT_TRUE(files.SaveDescription(ResumeFixture::Description()));
        ASSERT_TRUE(files.SaveRegionMap(ResumeFixture::Map()));
        ASSERT_TRUE(files.OpenData());
        ASSERT_EQ(files.WriteData(0, "new", 3), 3);

        EXPECT_EQ(files.Finish(row.keep), row.ok) << row.name;
        EXPECT_FALSE(f.Exists(kDescriptionSuffix)) << row.name;
        EXPECT_FALSE(f.Exists(kRegionMapSuffix)) << row.name;
        EXPECT_EQ(f.Exists(kDataSuffix), row.dataLeft) << row.name;
        if (!row.targetIsFolder) {
            EXPECT_EQ(f.Exists(""), !row.target.empty()) << row.name;
            if (!row.target.empty()) {
                EXPECT_EQ(ReadFile(f.target), row.target) << row.name;
            }
        }
        std::vector<std::string> others;
        for (const auto& entry : std::filesystem::directory_iterator(f.dir.path())) {
            const std::string name = entry.path().filename().string();
            if (name != "game.pak" && name != std::string("game.pak") + kDataSuffix)
                others.push_back(name);
        }
        EXPECT_TRUE(others.empty()) << row.name << ": " << others.front();
    }
}

}  // namespace
}  // namespace engine
