#include "platform/profile.h"

#include <gtest/gtest.h>

#include "testing/temp_dir.h"

namespace platform {
namespace {

class ProfileTest : public ::testing::Test {
  protected:
    void Write(const std::string& text) { testing_support::WriteFile(path_, text); }
    std::string Contents() { return testing_support::ReadFile(path_); }
    testing_support::TempDir dir_{"qg_profile"};
    std::string path_ = dir_ / "patchinfo.txt";
};

TEST_F(ProfileTest, ReadsWithWindowsSemantics) {
    Write(
        "; comment\r\n[Latest]\r\n  LATEST = CN.1.0.5  \r\nquoted=\"a b\"\r\nhalf=\"x\r\n"
        "[latest]\r\nlatest=second section loses\r\n[patch_1]\nfrom=CN.1\nfrom=dup loses\n"
        "  [ spaced ]  \nk=v\n");
    struct Case {
        const char* section;
        const char* key;
        const char* value;
    } cases[] = {
        {"latest", "latest", "CN.1.0.5"}, {"LATEST", "Quoted", "a b"}, {"latest", "half", "\"x"},
        {"patch_1", "FROM", "CN.1"},      {"spaced", "k", "v"},        {"latest", "none", "dflt"},
        {"nosuch", "latest", "dflt"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(GetProfileString(c.section, c.key, "dflt", path_), c.value)
            << c.section << "/" << c.key;
    }
    EXPECT_EQ(GetProfileSectionNames(path_),
              (std::vector<std::string>{"Latest", "latest", "patch_1", "spaced"}));
    EXPECT_EQ(GetProfileString("a", "b", "missing file", dir_ / "none"), "missing file");
    EXPECT_TRUE(GetProfileSectionNames(dir_ / "none").empty());
}

TEST_F(ProfileTest, LongValuesAreCutToTheBuffer) {
    Write("[s]\nk=" + std::string(5000, 'x') + "\n");
    EXPECT_EQ(GetProfileString("s", "k", "", path_).size(), kProfileValueBuffer - 1);
}

TEST_F(ProfileTest, WriteCreatesAndUpdatesInPlace) {
    path_ = dir_ / "style.cfg";
    ASSERT_TRUE(WriteProfileString("Style", "qstyle", "1", path_));
    EXPECT_EQ(Contents(), "[Style]\r\nqstyle=1\r\n");
    ASSERT_TRUE(WriteProfileString("style", "QSTYLE", "0", path_));
    ASSERT_TRUE(WriteProfileString("STYLE", "other", "x", path_));
    ASSERT_TRUE(WriteProfileString("More", "k", "v", path_));
    EXPECT_EQ(Contents(), "[Style]\r\nQSTYLE=0\r\nother=x\r\n[More]\r\nk=v\r\n");
    EXPECT_EQ(GetProfileString("style", "qstyle", "", path_), "0");
    EXPECT_FALSE(WriteProfileString("s", "k", "v", dir_ / "no/such/dir/f.ini"));
}

}  // namespace
}  // namespace platform
