#include "update/version_files.h"

#include <gtest/gtest.h>

#include <set>

#include "testing/temp_dir.h"
#include "update/position_key.h"

namespace {

class VersionFilesTest : public ::testing::Test {
  protected:
    std::string Write(const std::string& name, const std::string& bytes) {
        testing_support::WriteFile(dir_ / name, bytes);
        return dir_ / name;
    }
    static std::string Scrambled(std::string s) {
        ScrambleBuffer(s.data(), s.size());
        return s;
    }
    testing_support::TempDir dir_{"qg_version_files"};
};

TEST_F(VersionFilesTest, VersionFileFirstLineCutAtBar) {
    struct Case {
        const char* content;
        const char* raw;
    } cases[] = {
        {"CN.1.2.3|build 77 of the night\r\nsecond line\n", "CN.1.2.3"},
        {"CN.1.2.3\r\n", "CN.1.2.3"},
        {"CN.4.0", "CN.4.0"},
        {"", ""},
    };
    for (const Case& c : cases) {
        std::string raw = "stale";
        ASSERT_TRUE(ReadVersionFileText(Write(".ver", c.content), raw));
        EXPECT_EQ(raw, c.raw);
    }
    std::string longLine(5000, '7');
    std::string raw;
    ASSERT_TRUE(ReadVersionFileText(Write(".ver", "CN." + longLine), raw));
    EXPECT_EQ(raw.size(), 1023u);
    EXPECT_FALSE(ReadVersionFileText(dir_ / "missing.ver", raw));
}

TEST_F(VersionFilesTest, EditionIdIsUnscrambled) {
    std::string id;
    ASSERT_TRUE(ReadEditionIdText(Write("ver.id", Scrambled("tw_beta")), id));
    EXPECT_EQ(id, "tw_beta");
    // A line end after the scrambled text is not part of it.
    ASSERT_TRUE(ReadEditionIdText(Write("ver.id", Scrambled("TW") + "\n"), id));
    EXPECT_EQ(id, "TW");
    id = "unchanged";
    EXPECT_FALSE(ReadEditionIdText(dir_ / "absent.id", id));
    EXPECT_EQ(id, "unchanged");
}

TEST(ChooseEditionSection, CutsTheOldEditionAndFallsBack) {
    const std::set<std::string> sections = {"quillgate", "quillgate_TW", "other_TW"};
    auto has = [&](const std::string& s) { return sections.count(s) > 0; };
    EXPECT_EQ(ChooseEditionSection("quillgate", "TW", has), "quillgate_TW");
    EXPECT_EQ(ChooseEditionSection("quillgate_HK", "TW", has), "quillgate_TW");
    EXPECT_EQ(ChooseEditionSection("other_a_b", "TW", has), "other_TW");
    EXPECT_EQ(ChooseEditionSection("quillgate", "KR", has), "quillgate");
    EXPECT_EQ(ChooseEditionSection("other", "KR", has), "quillgate");
}

}  // namespace
