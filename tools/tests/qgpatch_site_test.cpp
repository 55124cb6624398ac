// qgpatch's site commands, run as the operator runs them, and read back by the launcher's
// own readers.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>

#include "testing/temp_dir.h"
#include "update/launcher_archive.h"
#include "update/patch_info.h"
#include "update/position_key.h"

namespace {

using testing_support::ReadFile;
using testing_support::WriteFile;

int Qgpatch(const std::string& args) {
    const std::string cmd = std::string(QGPATCH_BINARY) + " " + args + " > /dev/null 2>&1";
    const int status = std::system(cmd.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(QgpatchSite, PatchInfoReadsBackAsPublished) {
    testing_support::TempDir dir("qg_site");
    const std::string out = dir / "patchinfo.txt";
    ASSERT_EQ(
        Qgpatch("site -o " + out +
                " --latest CN.1.0.2 --quillgate CN.9.1 --newquillgate http://h/q.zip"
                " --patch CN.1.0.0 CN.1.0.1 http://h/p1 --patch CN.1.0.1 CN.1.0.2 http://h/p2"),
        0);
    PatchInfo info;
    ASSERT_TRUE(ReadPatchInfoFile(out, info));
    EXPECT_EQ(info.latestRaw, "CN.1.0.2");
    EXPECT_EQ(info.launcherLatest.number, "00009.00001.00000");
    EXPECT_EQ(info.newLauncherUrl, "http://h/q.zip");
    ASSERT_EQ(info.patches.size(), 2u);
    EXPECT_EQ(info.patches[1].url, "http://h/p2");

    // A patch that leads back, or missing keys, is refused and nothing is written.
    EXPECT_EQ(Qgpatch("site -o " + out +
                      " --latest CN.1 --quillgate CN.9 --newquillgate u"
                      " --patch CN.1.0.2 CN.1.0.1 http://h/back"),
              1);
    EXPECT_EQ(Qgpatch("site -o " + out + " --latest CN.1"), 2);
    EXPECT_FALSE(std::filesystem::exists(out));
}

TEST(QgpatchSite, ScrambleAndLauncherArchive) {
    testing_support::TempDir dir("qg_site_files");
    const std::string plain = "[quillgate]\r\nweb=http://news.example/\r\n";
    WriteFile(dir / "quillgate.cfg", plain);
    ASSERT_EQ(Qgpatch("scramble " + (dir / "quillgate.cfg") + " -o " + (dir / "out.cfg")), 0);
    std::string scrambled = ReadFile(dir / "out.cfg");
    EXPECT_EQ(scrambled.find("quillgate"), std::string::npos);
    ScrambleBuffer(scrambled.data(), scrambled.size());
    EXPECT_EQ(scrambled, plain);

    const std::string launcher = ReadFile(QG_LAUNCHER_BINARY);
    ASSERT_EQ(Qgpatch(std::string("launcher-zip ") + QG_LAUNCHER_BINARY + " -o " +
                      (dir / "quillgate.zip")),
              0);
    std::string member;
    ASSERT_EQ(ReadArchiveMember(dir / "quillgate.zip", "quillgate.exe", member), ArchiveResult::Ok);
    EXPECT_TRUE(member == launcher);
}

TEST(QgpatchSite, LauncherZipRefusesWhatNoClientWouldInstall) {
    testing_support::TempDir dir("qg_site");
    const std::string launcher = ReadFile(QG_LAUNCHER_BINARY);
    struct Case {
        const char* name;
        std::string image;
    } cases[] = {{"text", std::string(100000, 'L')},
                 {"empty", ""},
                 {"truncated", launcher.substr(0, launcher.size() / 2)},
                 {"no version answer", "#!/bin/sh\nexit 1\n"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WriteFile(dir / "launcher", c.image);
        std::filesystem::permissions(dir / "launcher", std::filesystem::perms::owner_all);
        EXPECT_EQ(Qgpatch("launcher-zip " + (dir / "launcher") + " -o " + (dir / "quillgate.zip")),
                  1);
        EXPECT_FALSE(std::filesystem::exists(dir / "quillgate.zip"));
    }
}

}  // namespace
