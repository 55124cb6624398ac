// qgpatch's site commands, run as the operator runs them, and read back by the launcher's
// own readers.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "testing/temp_dir.h"
#include "update/launcher_archive.h"
#include "update/patch_info.h"
#include "update/position_key.h"
#include "update/release_trust.h"
#include "update/sha256.h"
#include "update/signature.h"

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
    // One package is in the folder: it gets its block list; the other is published elsewhere.
    WriteFile(dir / "p1", std::string(300000, 'p'));
    ASSERT_EQ(
        Qgpatch("site -o " + out +
                " --latest CN.1.0.2 --quillgate CN.9.1 --newquillgate http://h/q.zip"
                " --patch CN.1.0.0 CN.1.0.1 http://h/p1 --patch CN.1.0.1 CN.1.0.2 http://h/p2"),
        0);
    const std::string list = ReadFile(dir / "p1.blocks");
    EXPECT_EQ(list.substr(0, 8), "QGBLOCKS");
    EXPECT_EQ(list.size(), 56u + 2 * 32) << "two blocks of 256 KiB";
    EXPECT_EQ(
        list.substr(24, 32),
        std::string(reinterpret_cast<const char*>(Sha256Of(ReadFile(dir / "p1")).data()), 32));
    EXPECT_FALSE(std::filesystem::exists(dir / "p2.blocks"));
    PatchInfo info;
    ASSERT_TRUE(ReadPatchInfoFile(out, info));
    EXPECT_FALSE(info.patches.empty() || info.patches[0].blockListSha256.has_value())
        << "only a signed site vouches for a block list";
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

namespace {

// Runs qgpatch and returns what it printed on standard output (its exit code in `code`).
std::string QgpatchOutput(const std::string& args, int& code) {
    const std::string cmd = std::string(QGPATCH_BINARY) + " " + args + " 2>/dev/null";
    FILE* pipe = popen(cmd.c_str(), "r");
    std::string out;
    char buffer[256];
    while (pipe != nullptr && std::fgets(buffer, sizeof(buffer), pipe) != nullptr) out += buffer;
    const int status = pipe != nullptr ? pclose(pipe) : -1;
    code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return out;
}

bool SignatureVerifies(const std::string& file, SignedRole role, const PublicKey& key,
                       uint64_t* serial = nullptr) {
    return SignatureTextVerifies(role, ReadFile(file), ReadFile(file + ".sig"), key, serial);
}

TEST(QgpatchSite, SignedSiteVerifiesWithThePrintedKey) {
    namespace fs = std::filesystem;
    testing_support::TempDir dir("qg_signed_site");
    const std::string keyFile = dir / "operator.key";
    int code = -1;
    std::string printed = QgpatchOutput("keygen -o " + keyFile, code);
    ASSERT_EQ(code, 0);
    PublicKey key;
    ASSERT_TRUE(ParsePublicKeyHex(printed.substr(0, printed.find('\n')), key)) << printed;
    EXPECT_EQ(fs::status(keyFile).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
    // An operator's key is never overwritten by accident.
    const std::string secret = ReadFile(keyFile);
    EXPECT_EQ(Qgpatch("keygen -o " + keyFile), 1);
    EXPECT_EQ(ReadFile(keyFile), secret);

    fs::create_directories(dir.path() / "patch");
    WriteFile(dir / "patch/p1.jzq", std::string(70000, 'p'));
    WriteFile(dir / "quillgate.zip", "archive bytes");
    const std::string out = dir / "patchinfo.txt";
    const std::string site = "site -o " + out +
                             " --latest CN.1.0.1 --quillgate CN.9.1"
                             " --newquillgate http://h/quillgate.zip"
                             " --patch CN.1.0.0 CN.1.0.1 http://h/patch/p1.jzq --key " +
                             keyFile;
    // Without a launcher archive among the files the site is still published, without its keys.
    ASSERT_EQ(Qgpatch(site + " --files " + (dir / "patch")), 0);
    PatchInfo info;
    ASSERT_TRUE(ParsePatchInfo(ReadFile(out), info));
    EXPECT_FALSE(info.launcherArchive.sha256.has_value());
    ASSERT_EQ(Qgpatch(site), 0);
    EXPECT_TRUE(SignatureVerifies(out, SignedRole::PatchInfo, key));
    ASSERT_TRUE(ParsePatchInfo(ReadFile(out), info));
    ASSERT_EQ(info.patches.size(), 1u);
    EXPECT_TRUE(
        MatchesPublished(info.patches[0].package, 70000, Sha256Of(ReadFile(dir / "patch/p1.jzq"))));
    EXPECT_EQ(info.patches[0].blockListSha256, Sha256Of(ReadFile(dir / "patch/p1.jzq.blocks")));
    EXPECT_TRUE(MatchesPublished(info.launcherArchive, 13, Sha256Of("archive bytes")));
    ASSERT_TRUE(info.serial.has_value());

    // Publishing again never lowers the serial, and a lower one given by hand is refused.
    const uint64_t first = *info.serial;
    ASSERT_EQ(Qgpatch(site), 0);
    ASSERT_TRUE(ParsePatchInfo(ReadFile(out), info));
    EXPECT_GT(*info.serial, first);
    const std::string current = ReadFile(out);
    EXPECT_EQ(Qgpatch(site + " --serial " + std::to_string(first)), 1);
    EXPECT_EQ(ReadFile(out), current);

    // A package that is not there cannot be described: nothing is published.
    EXPECT_EQ(Qgpatch(site + " --patch CN.1.0.1 CN.1.0.2 http://h/patch/p2.pkg"), 1);
    EXPECT_EQ(ReadFile(out), current);

    // The server list is signed in its role, with a serial that only grows.
    const std::string list = dir / "server.lst";
    WriteFile(list, "SERVER_BEGIN\r\n");
    ASSERT_EQ(Qgpatch("sign --key " + keyFile + " " + list), 0);
    uint64_t listSerial = 0;
    EXPECT_TRUE(SignatureVerifies(list, SignedRole::ServerList, key, &listSerial));
    EXPECT_FALSE(SignatureVerifies(list, SignedRole::PatchInfo, key));
    EXPECT_GT(listSerial, 0u);
    ASSERT_EQ(Qgpatch("sign --key " + keyFile + " " + list), 0);
    uint64_t again = 0;
    EXPECT_TRUE(SignatureVerifies(list, SignedRole::ServerList, key, &again));
    EXPECT_GT(again, listSerial);
    EXPECT_EQ(Qgpatch("sign --key " + keyFile + " --serial " + std::to_string(again) + " " + list),
              1);
    ASSERT_EQ(Qgpatch("sign --key " + keyFile + " --role patchinfo " + list), 0);
    EXPECT_TRUE(SignatureVerifies(list, SignedRole::PatchInfo, key));
    EXPECT_EQ(Qgpatch("sign --key " + (dir / "server.lst") + " " + (dir / "server.lst")), 1);
}

}  // namespace
