#include "engine/ini_store.h"

#include <gtest/gtest.h>

#include <string>

#include "testing/temp_dir.h"

namespace {

using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

// "section/key=value" lines of every key, in store order.
std::string Listing(const CIniEx2& ini) {
    std::string out;
    for (const auto& [section, keys] : ini.sections()) {
        for (const auto& [key, value] : keys) out += section + "/" + key + "=" + value + "\n";
    }
    return out;
}

TEST(CIniEx2, ReadsFileTexts) {
    const std::string longValue(5000, 'x');
    const std::string longestKept = "k=" + std::string(CIniEx2::kMaxLine - 2, 'y');
    struct Row {
        std::string name, text, expected;
    } rows[] = {
        {"empty file", "", ""},
        {"one key", "[A]\r\nk=v\r\n", "A/k=v\n"},
        {"empty section", "[A]\r\n\r\n[B]\r\nx=1\r\n", "B/x=1\n"},
        {"empty key or value", "[A]\r\n=v\r\nk=\r\n=\r\nk2=v2\r\n", "A/k2=v2\n"},
        {"= in a value", "[A]\r\nurl=http://h/a?b=c&d=e\r\n", "A/url=http://h/a?b=c&d=e\n"},
        {"before the first section", "top=1\r\n[A]\r\nk=v\r\n", "/top=1\nA/k=v\n"},
        {"LF line ends", "[A]\nk=v\nj=w\n", "A/j=w\nA/k=v\n"},
        {"a lone CR cuts the line", "[A]\rk=v\nj=w\n", "A/j=w\n"},
        {"no final line end", "[A]\r\nk=v", "A/k=v\n"},
        {"a later key replaces", "[A]\r\nk=1\r\nk=2\r\n", "A/k=2\n"},
        {"a section met twice", "[A]\r\nk=1\r\n[B]\r\nj=1\r\n[A]\r\nm=2\r\n",
         "A/k=1\nA/m=2\nB/j=1\n"},
        {"not a header, no =", "[A\r\nk=v\r\n", "/k=v\n"},
        {"empty section name", "[A]\r\n[]\r\nk=v\r\n", "/k=v\n"},
        {"a NUL ends the line", std::string("[A]\r\nk=v\0junk\r\n", 16), "A/k=v\n"},
        {"a line over the limit is dropped whole", "[A]\r\nk=" + longValue + "=[B]\r\nz=1\r\n",
         "A/z=1\n"},
        {"the longest line kept", "[A]\r\n" + longestKept + "\r\n",
         "A/" + longestKept.substr(0, 1) + "=" + longestKept.substr(2) + "\n"},
    };
    for (const Row& row : rows) {
        CIniEx2 ini;
        ini.Parse(row.text);
        EXPECT_EQ(Listing(ini), row.expected) << row.name;
    }
}

TEST(CIniEx2, SavesSectionsAndKeysInOrderWithoutEmptySections) {
    TempDir dir("qg_ini");
    const std::string path = dir / "state.ini";
    CIniEx2 ini;
    ASSERT_TRUE(ini.Load(path, false));
    ini.Parse("[Empty]\r\n");
    ASSERT_TRUE(ini.Set("Z", "k", "v"));
    ASSERT_TRUE(ini.Set("A", "b", "2"));
    ASSERT_TRUE(ini.Set("A", "a", "1=one"));
    ASSERT_TRUE(ini.Save());
    EXPECT_EQ(ReadFile(path), "[A]\r\na=1=one\r\nb=2\r\n\r\n[Z]\r\nk=v\r\n\r\n");

    CIniEx2 again;
    ASSERT_TRUE(again.Load(path, true));
    EXPECT_EQ(Listing(again), Listing(ini));
    EXPECT_EQ(again.Get("A", "a"), "1=one");
    EXPECT_EQ(again.Get("A", "missing"), "");
    EXPECT_EQ(again.Get("Missing", "a"), "");
}

TEST(CIniEx2, MissingFileIsEmptyUnlessItMustExist) {
    TempDir dir("qg_ini");
    CIniEx2 ini;
    ini.Parse("[A]\r\nk=v\r\n");
    EXPECT_TRUE(ini.Load(dir / "absent", false));
    EXPECT_EQ(Listing(ini), "");
    EXPECT_FALSE(ini.Load(dir / "absent", true));
}

TEST(CIniEx2, RefusesTextsThatWouldNotReadBackAsSet) {
    struct Row {
        std::string section, key, value;
    } rows[] = {
        {"A", "URL", "http://h/\r\n[FileInfo]\r\nLength=1"},
        {"A", "k", "a\nb"},
        {"A\r\n", "k", "v"},
        {"A", "", "v"},
        {"A", "k=j", "v"},
        {"A", "[k", "v]"},
        {"A", "k", ""},
        {"A", "k", std::string("a\0b", 3)},
        {"A", "k", std::string(CIniEx2::kMaxLine, 'x')},
    };
    for (const Row& row : rows) {
        CIniEx2 ini;
        EXPECT_FALSE(ini.Set(row.section, row.key, row.value)) << row.key << "=" << row.value;
        EXPECT_EQ(Listing(ini), "");
    }
}

}  // namespace
