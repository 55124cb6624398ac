#include "update/patch_info.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "testing/temp_dir.h"

namespace {

using testing_support::TempDir;
using testing_support::WriteFile;

const char* kLatest =
    "[latest]\r\nlatest=CN.1.0.5\r\nQuillgate=CN.9.1\r\nnewquillgate=http://up.example/"
    "quillgate.zip\r\n";

class PatchInfoTest : public ::testing::Test {
  protected:
    bool Read(const std::string& text, PatchInfo& info) {
        WriteFile(path_, text);
        bool ok = ReadPatchInfoFile(path_, info);
        EXPECT_FALSE(std::filesystem::exists(path_)) << "the file is always deleted";
        return ok;
    }
    TempDir dir_{"qg_patchinfo"};
    std::string path_ = dir_ / "patchinfo.txt";
};

TEST_F(PatchInfoTest, ReadsLatestAndCompletePatchSectionsInFileOrder) {
    PatchInfo info;
    ASSERT_TRUE(Read(std::string(kLatest) +
                         "[patch_b]\nFROM=CN.1.0.4\nto=CN.1.0.5\nurl=http://up.example/b.zip\n"
                         "[Patch_x]\nfrom=CN.1.0.3\nto=CN.1.0.5\nurl=http://up.example/x.zip\n"
                         "[patch_nourl]\nfrom=CN.1.0.3\nto=CN.1.0.5\n"
                         "[patch_emptyurl]\nfrom=CN.1.0.3\nto=CN.1.0.5\nurl=\n"
                         "[other]\nfrom=CN.1.0.3\nto=CN.1.0.5\nurl=http://up.example/o.zip\n"
                         "[patch_a]\nfrom=CN.1.0.3\nto=CN.1.0.4\nurl=http://up.example/a.zip\n",
                     info));
    EXPECT_EQ(info.latestRaw, "CN.1.0.5");
    EXPECT_EQ(info.latestVersion.number, "00001.00000.00005");
    EXPECT_EQ(info.launcherLatest.number, "00009.00001.00000");
    EXPECT_EQ(info.newLauncherUrl, "http://up.example/quillgate.zip");
    ASSERT_EQ(info.patches.size(), 2u);
    EXPECT_EQ(info.patches[0].url, "http://up.example/b.zip");
    EXPECT_EQ(info.patches[1].url, "http://up.example/a.zip");
}

// A large site is read in one pass: re-reading the file for each value made 2,500
// sections take over a minute. The profile rules still hold: names without case, the
// first of a repeated section or key, file order.
TEST_F(PatchInfoTest, ReadsTwentyThousandSectionsWithTheProfileRules) {
    constexpr int kSections = 20000;
    std::string text = "[patch_0]\nfrom=CN.0.0.0\nto=CN.0.0.1\nurl=http://up.example/first.zip\n";
    text += "[LATEST]\nLatest=CN.1.0.5\nquillgate=CN.9.1\nnewquillgate=u\nlatest=CN.7\n";
    text += "[latest]\nlatest=CN.8\n";
    for (int i = 1; i < kSections; ++i) {
        const std::string n = std::to_string(i);
        text += "[patch_" + n + "]\nFrom=CN.1.0." + n + "\nTO=CN.1.0." + std::to_string(i + 1) +
                "\nurl=http://up.example/" + n + ".zip\nurl=ignored\n";
    }
    text += "[patch_0]\nfrom=CN.5\nto=CN.6\nurl=http://up.example/repeated.zip\n";
    PatchInfo info;
    ASSERT_TRUE(Read(text, info));
    EXPECT_EQ(info.latestRaw, "CN.1.0.5");
    ASSERT_EQ(info.patches.size(), static_cast<size_t>(kSections + 1));
    EXPECT_EQ(info.patches[0].url, "http://up.example/first.zip");
    EXPECT_EQ(info.patches[1].url, "http://up.example/1.zip");
    EXPECT_EQ(info.patches[kSections - 1].url,
              "http://up.example/" + std::to_string(kSections - 1) + ".zip");
    EXPECT_EQ(info.patches[kSections].url, "http://up.example/first.zip")
        << "a repeated section name reads the first section of that name";
}

TEST_F(PatchInfoTest, RefusesIncompleteFiles) {
    for (const char* text :
         {"", "no sections at all\n", "[latest]\nquillgate=CN.9\nnewquillgate=u\n",
          "[latest]\nlatest=CN.1\nnewquillgate=u\n", "[latest]\nlatest=CN.1\nquillgate=CN.9\n",
          "[latest]\nlatest=\nquillgate=CN.9\nnewquillgate=u\n"}) {
        PatchInfo info;
        EXPECT_FALSE(Read(text, info)) << text;
    }
    PatchInfo info;
    EXPECT_FALSE(ReadPatchInfoFile(dir_ / "missing.txt", info));
}

PatchStep Step(const char* from, const char* to, const char* url) {
    return PatchStep{ParseVersion(from), ParseVersion(to), url};
}

std::string Urls(const std::vector<PatchStep>& chain) {
    std::string s;
    for (const PatchStep& p : chain) s += p.url;
    return s;
}

TEST(ChooseChain, Walks) {
    const std::vector<PatchStep> published = {Step("CN.1.0.3", "CN.1.0.4", "1"),
                                              Step("CN.1.0.4", "CN.1.0.5", "2"),
                                              Step("CN.1.0.3", "CN.1.0.5", "3")};
    const std::vector<PatchStep> singles(published.begin(), published.begin() + 2);
    struct Case {
        const char* installed;
        std::vector<PatchStep> patches;
        ChainResult result;
        const char* urls;
    } cases[] = {
        {"CN.1.0.3", published, ChainResult::Ok, "3"},  // the step reaching furthest wins
        {"CN.1.0.3", singles, ChainResult::Ok, "12"},
        {"CN.1.0.4", published, ChainResult::Ok, "2"},
        {"CN.1.0.5", published, ChainResult::Ok, ""},
        {"CN.1.0.9", published, ChainResult::Ok, ""},  // newer than the newest
        {"CN.1.0.2", published, ChainResult::NoWayForward, ""},
        {"KR.1.0.3", published, ChainResult::Incomparable, ""},
        // Equal reach: the first in file order wins.
        {"CN.1.0.3",
         {Step("CN.1.0.3", "CN.1.0.5", "first"), Step("CN.1.0.3", "CN.1.0.5", "second")},
         ChainResult::Ok,
         "first"},
        // Steps back or in place are never taken, so the walk ends.
        {"CN.1.0.3",
         {Step("CN.1.0.3", "CN.1.0.3", "loop"), Step("CN.1.0.3", "CN.1.0.1", "back"),
          Step("CN.1.0.3", "KR.1.0.9", "other tag")},
         ChainResult::NoWayForward,
         ""},
    };
    for (const Case& c : cases) {
        std::vector<PatchStep> chain = {Step("X.1", "X.2", "stale")};
        EXPECT_EQ(
            ChooseChain(ParseVersion(c.installed), ParseVersion("CN.1.0.5"), c.patches, chain),
            c.result)
            << c.installed;
        if (c.result == ChainResult::Ok) {
            EXPECT_EQ(Urls(chain), c.urls) << c.installed;
        }
    }
}

}  // namespace
