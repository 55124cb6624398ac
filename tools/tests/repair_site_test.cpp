// qgpatch repair-site, run as the operator runs it, and the launcher's repair against the
// site it publishes: the two must agree on every name and URL.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>

#include "axp/updater.h"
#include "platform/messages.h"
#include "testing/package_builder.h"
#include "testing/python_server.h"
#include "testing/temp_dir.h"
#include "update/launch_messages.h"
#include "update/release_trust.h"
#include "update/repair_list.h"
#include "update/repair_worker.h"
#include "update/signature.h"

namespace {

namespace fs = std::filesystem;
using testing_support::ReadFile;
using testing_support::WriteFile;

constexpr uint32_t WM_TEST_ENDED = platform::WM_USER + 0x310;

int Qgpatch(const std::string& args) {
    const std::string cmd = std::string(QGPATCH_BINARY) + " " + args + " > /dev/null 2>&1";
    const int status = std::system(cmd.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

intptr_t EndOnSignal(platform::WindowHandle w, uint32_t m, uintptr_t wp, intptr_t lp) {
    if (m == WM_TEST_ENDED) platform::PostQuitMessage(0);
    return platform::DefWindowProc(w, m, wp, lp);
}

void MakeClient(const fs::path& dir) {
    auto text = [](size_t n, uint32_t seed) {
        auto bytes = axp_test::TextBytes(n, seed);
        return std::string(bytes.begin(), bytes.end());
    };
    fs::create_directories(dir / "bin");
    fs::create_directories(dir / "download");
    WriteFile((dir / "bin/engine.dll").string(), text(40000, 7));
    WriteFile((dir / ".ver").string(), "CN.1.0.0|x\r\n");
    WriteFile((dir / "empty.txt").string(), "");
    // The launcher's own files and state: never published.
    for (const char* own : {"quillgate.exe", "quillgate.cfg", "release.serial", "download/a.patch"})
        WriteFile((dir / own).string(), "launcher's own");
    axp_test::MakePack((dir / "data.pak").string(), {{"a/stored.txt", {text(3000, 1), 0, 0}},
                                                     {"xor.dat", {text(5000, 2), 1, 0}},
                                                     {"lzo.dat", {text(60000, 3), 2, 0}},
                                                     {"lzma.dat", {text(70000, 4), 3, 0}}});
    axp_test::MakePack((dir / "Sub/Two.PAK").string(), {{"two.txt", {"second pack", 2, 0}}});
}

TEST(RepairSite, PublishedSiteRepairsADamagedClientExactly) {
    testing_support::TempDir root("qg_repair_site");
    const fs::path published = root.path() / "published", site = root.path() / "site",
                   client = root.path() / "client";
    MakeClient(published);
    SecretKey secret;
    PublicKey key;
    ASSERT_TRUE(GenerateKeyPair(secret, key));
    WriteFile(root / "key", SecretKeyFileText(secret));
    ASSERT_EQ(Qgpatch("repair-site " + published.string() + " -o " + site.string() + " --key " +
                      (root / "key")),
              0);

    const std::string list = ReadFile((site / "current.ver").string());
    RepairList parsed;
    ASSERT_EQ(ParseRepairList(list, parsed), RepairListResult::Ok);
    EXPECT_EQ(parsed.looseFiles.size(), 3u);  // bin/engine.dll, .ver, empty.txt
    EXPECT_EQ(parsed.packFiles["data.pak"].size(), 5u);
    EXPECT_EQ(parsed.packFiles["sub/two.pak"].size(), 2u);
    for (const char* own : {"quillgate", "release.serial", "a.patch"})
        EXPECT_EQ(list.find(own), std::string::npos) << own;
    EXPECT_TRUE(SignatureFileVerifies(list, (site / "current.ver.sig").string(), key));

    fs::copy(published, client, fs::copy_options::recursive);
    fs::remove(client / "data.pak");
    fs::resize_file(client / "bin/engine.dll", 10);
    fs::remove(client / "empty.txt");
    {
        AXP::PackFile pack;
        ASSERT_TRUE(pack.Open((client / "Sub/Two.PAK").string(), false));
        ASSERT_TRUE(pack.RemoveFile("two.txt", true));
        ASSERT_TRUE(pack.Close());
    }

    testing_support::SiteServer server(site.string());
    testing_support::ScopedCurrentDir cwd(client);
    platform::RegisterWindowClass("TEST_REPAIR_SITE_WINDOW", &EndOnSignal);
    const platform::WindowHandle window = platform::CreateMessageWindow("TEST_REPAIR_SITE_WINDOW");
    LauncherConfig config;
    config.downloadDir = "download\\";
    config.repairUrl = server.Url("/");
    config.publicKey = PublicKeyHex(key);
    AXP::Updater updater;
    CRepairWorker worker;
    worker.SetHooks({nullptr, nullptr, nullptr,
                     [window] { platform::PostMessage(window, WM_TEST_ENDED, 0, 0); }});
    ASSERT_TRUE(worker.Start(window, &updater, config));
    platform::Message msg;
    while (platform::GetMessage(msg)) platform::DispatchMessage(msg);
    worker.Join();
    platform::DestroyMessageWindow(window);

    EXPECT_TRUE(worker.completed());
    EXPECT_EQ(worker.repairedCount(), 5 + 1 + 2);  // data.pak whole, two.txt, two loose files
    fs::remove_all(client / "download");
    fs::remove_all(published / "download");
    const auto want = axp_test::Snapshot(published);
    const auto got = axp_test::Snapshot(client);
    EXPECT_TRUE(got == want) << axp_test::Describe(want, got);
}

}  // namespace
