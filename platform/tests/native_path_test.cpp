#include "platform/native_path.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "testing/temp_dir.h"

namespace platform {
namespace {

namespace fs = std::filesystem;

class NativePathTest : public ::testing::Test {
  protected:
    void SetUp() override {
        fs::create_directories(root_ / "Data" / "数据");
        fs::create_directories(root_ / "乗");
        std::ofstream(root_ / "Data" / "数据" / "Scene.PAK") << "x";
        std::ofstream(root_ / "乗" / "file.txt") << "y";
    }
    testing_support::TempDir dir_{"qg_native_path"};
    const fs::path& root_ = dir_.path();
    testing_support::ScopedCurrentDir cwd_{root_};
};

TEST_F(NativePathTest, ResolvesEachExistingComponentCaselessly) {
    struct Case {
        std::string gbk;
        std::string expected;
    } cases[] = {
        {"data\\\xCA\xFD\xBE\xDD\\scene.pak", "Data/数据/Scene.PAK"},
        {"DATA/\xCA\xFD\xBE\xDD/SCENE.PAK", "Data/数据/Scene.PAK"},
        {".\\data\\\xCA\xFD\xBE\xDD", "./Data/数据"},
        // A trail byte of 0x5C is part of the character, not a separator.
        {"\x81\x5C\\FILE.TXT", "乗/file.txt"},
        // Names that do not exist yet keep their case, and so does everything below them.
        {"data\\New\\Sub.Pak", "Data/New/Sub.Pak"},
        {"data\\\\scene.pak\\", "Data/scene.pak/"},
    };
    for (const Case& c : cases) {
        std::string out;
        ASSERT_TRUE(NativePath(c.gbk, out)) << c.expected;
        EXPECT_EQ(out, c.expected);
    }
}

TEST_F(NativePathTest, AbsolutePathsStayAbsolute) {
    std::string out;
    ASSERT_TRUE(NativePath((root_ / "data/X").string(), out));
    EXPECT_EQ(out, (root_ / "Data/X").string());
}

TEST_F(NativePathTest, InvalidGbkIsRefused) {
    std::string out;
    EXPECT_FALSE(NativePath("bad\x81", out));
    EXPECT_TRUE(out.empty());
}

TEST(FileNames, FoldOnlyAsciiLetters) {
    EXPECT_TRUE(FileNamesEqual("Scene.PAK", "scene.pak"));
    EXPECT_FALSE(FileNamesEqual("scene.pak", "scene.pa"));
    EXPECT_FALSE(FileNamesEqual("数据", "数扰"));
}

}  // namespace
}  // namespace platform
