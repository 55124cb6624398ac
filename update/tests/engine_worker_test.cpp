// The update and repair pipelines with the download engine on, against real web servers
// (nginx) on 127.0.0.1: a primary and a backup update server, each slowed down, so that
// every package comes from both at once. On a signed site the engine checks every block
// against the block list whose SHA-256 the signed patch information carries.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>

#include "axp/crc.h"
#include "download/tarn/engine_in_process.h"
#include "quillgate/tarn.h"
#include "testing/mirror_log.h"
#include "testing/test_bytes.h"
#include "update/release_trust.h"
#include "update/repair_worker.h"
#include "update/sha256.h"
#include "update/signature.h"
#include "update/tests/worker_site_fixture.h"

namespace {

using namespace worker_test;
using testing_support::NginxSentBytes;
using testing_support::PythonServer;
using testing_support::RandomBytes;

constexpr size_t kFileBytes = 1 << 20;
// Each answer at 256 KiB/s, two connections per client: a package takes two seconds from
// one server, and the engine has every reason to ask both.
constexpr const char* kRate = "262144";
constexpr const char* kConnections = "2";

std::string SizeHex(size_t size) {
    char text[16];
    std::snprintf(text, sizeof(text), "%08X", static_cast<unsigned>(size));
    return text;
}

void UseEngine(const LauncherConfig&) { ASSERT_TRUE(UseEngineInProcess({})); }

// A folder served by nginx, logging what it sent.
class WebServer {
  public:
    WebServer(const fs::path& folder, const fs::path& log)
        : log_(log),
          server_(QG_NGINX_SERVER, {folder.string(), kRate, kConnections, log.string()}) {}
    std::string Url(const std::string& path) const { return server_.Url(path); }
    std::string host() const { return server_.host(); }
    int64_t Sent(const std::string& path) const { return NginxSentBytes(log_, path); }

  private:
    fs::path log_;
    PythonServer server_;
};

struct EngineCase {
    const char* name;
    bool engine;  // "engine=1" in quillgate.cfg
    bool signedSite;
    bool forgedBlockLists;  // every server publishes the block lists of other bytes
    int result;
};

void PrintTo(const EngineCase& c, std::ostream* os) { *os << c.name; }

class EngineUpdateTest : public WorkerSiteTest, public ::testing::WithParamInterface<EngineCase> {
  protected:
    void SetUp() override {
        WorkerSiteTest::SetUp();
        MakePackage(
            site_ / "patch/p1.jzq",
            Versioned({"0||big1.bin|0|" + SizeHex(kFileBytes) + "\r\n", {{"big1.bin", big1_}}},
                      "CN.1.0.1"),
            true);
        MakePackage(
            site_ / "patch/p2.pkg",
            Versioned({"0||big2.bin|0|" + SizeHex(kFileBytes) + "\r\n", {{"big2.bin", big2_}}},
                      "CN.1.0.2"),
            false);
        for (const char* package : {"patch/p1.jzq", "patch/p2.pkg"}) {
            const std::string file = site_ / package;
            ASSERT_TRUE(TarnMakeBlockList(file.c_str(), (file + ".blocks").c_str()));
        }
    }

    // Writes the patch information (signed, with every package's size, SHA-256 and block
    // list's SHA-256, when `signedSite`), and mirrors the whole site on the backup.
    void Publish(bool engine, bool signedSite) {
        std::string text = "[latest]\r\nlatest=CN.1.0.2\r\nquillgate=CN.9.0\r\nnewquillgate=" +
                           primary_web_.Url("/quillgate.zip") + "\r\nserial=7\r\n";
        int n = 0;
        for (const auto& [from, to, package] :
             {std::tuple{"CN.1.0.0", "CN.1.0.1", "patch/p1.jzq"},
              std::tuple{"CN.1.0.1", "CN.1.0.2", "patch/p2.pkg"}}) {
            const std::string data = ReadFile(site_ / package);
            text += "[patch_" + std::to_string(++n) + "]\r\nfrom=" + from + "\r\nto=" + to +
                    "\r\nurl=" + primary_web_.Url(std::string("/") + package) + "\r\n";
            if (signedSite)
                text += "size=" + std::to_string(data.size()) +
                        "\r\nsha256=" + DigestHex(Sha256Of(data)) + "\r\nblockssha256=" +
                        DigestHex(Sha256Of(ReadFile(site_ / (std::string(package) + ".blocks")))) +
                        "\r\n";
        }
        WriteFile(site_ / "patchinfo.txt", text);
        std::string config = "[quillgate]\r\nverinfo=" + primary_web_.Url("/patchinfo.txt") +
                             "\r\nserverlist=" + primary_web_.Url("/server.lst") +
                             "\r\nbakserver=" + backup_web_.host() + "\r\n";
        if (engine) config += "engine=1\r\n";
        if (signedSite) {
            SecretKey secret;
            PublicKey key;
            ASSERT_TRUE(GenerateKeyPair(secret, key));
            WriteFile(site_ / "patchinfo.txt.sig",
                      SignatureFileFor(SignedRole::PatchInfo, text, secret, 0));
            WriteFile(site_ / "server.lst.sig",
                      SignatureFileFor(SignedRole::ServerList, ReadFile(site_ / "server.lst"),
                                       secret, 1));
            config += "publickey=" + PublicKeyHex(key) + "\r\n";
        }
        WriteFile("quillgate.cfg", config);
        fs::copy(site_.path(), backup_.path(),
                 fs::copy_options::recursive | fs::copy_options::overwrite_existing);
    }

    const std::string big1_ = RandomBytes(kFileBytes, 1);
    const std::string big2_ = RandomBytes(kFileBytes, 2);
    TempDir logs_{"qg_engine_logs"};
    WebServer primary_web_{site_.path(), logs_.path() / "primary.log"};
    WebServer backup_web_{backup_.path(), logs_.path() / "backup.log"};
};

TEST_P(EngineUpdateTest, EveryPackageComesFromThePrimaryAndTheBackupAtOnce) {
    const EngineCase& c = GetParam();
    Publish(c.engine, c.signedSite);
    if (c.forgedBlockLists) {
        // Lists that describe other bytes of the same length: a server (or anyone between)
        // that replaced them would have the engine take those bytes for the package.
        for (const TempDir* root : {&site_, &backup_}) {
            for (const char* package : {"patch/p1.jzq", "patch/p2.pkg"}) {
                const std::string other = *root / "other.bin";
                WriteFile(other, RandomBytes(ReadFile(*root / package).size(), 9));
                const std::string list = *root / (std::string(package) + ".blocks");
                ASSERT_TRUE(TarnMakeBlockList(other.c_str(), list.c_str()));
            }
        }
    }
    CLaunchWorker::Hooks hooks;
    if (c.engine) hooks.configured = &UseEngine;
    ASSERT_EQ(Run(hooks), c.result);
    if (c.result != kResultUpToDate) {
        EXPECT_EQ(ReadFile(".ver"), "CN.1.0.0|first release\r\n");
        EXPECT_FALSE(fs::exists("big1.bin"));
        return;
    }
    EXPECT_EQ(ReadFile(".ver"), "CN.1.0.2");
    EXPECT_TRUE(ReadFile("big1.bin") == big1_);
    EXPECT_TRUE(ReadFile("big2.bin") == big2_);
    for (const char* package : {"/patch/p1.jzq", "/patch/p2.pkg"}) {
        const int64_t size = static_cast<int64_t>(fs::file_size(site_ / (package + 1)));
        const int64_t fromPrimary = primary_web_.Sent(package);
        const int64_t fromBackup = backup_web_.Sent(package);
        if (!c.engine) {
            // As without the engine's keys: the primary alone, the backup only on failure.
            EXPECT_EQ(fromPrimary, size) << package;
            EXPECT_EQ(fromBackup, 0) << package;
            continue;
        }
        // Each sent a part, neither the whole: the package came from both at once.
        EXPECT_GT(fromPrimary, 0) << package;
        EXPECT_GT(fromBackup, 0) << package;
        EXPECT_LT(fromPrimary, size) << package;
        EXPECT_LT(fromBackup, size) << package;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Sites, EngineUpdateTest,
    ::testing::Values(EngineCase{"engine off", false, true, false, kResultUpToDate},
                      EngineCase{"unsigned site", true, false, false, kResultUpToDate},
                      EngineCase{"signed site", true, true, false, kResultUpToDate},
                      EngineCase{"signed site whose block lists were replaced", true, true, true,
                                 kResultFailed}));

// The repair restores a file through the engine, from the repair site and the same path on
// the backup server at once.
constexpr uint32_t WM_TEST_REPAIR_ENDED = platform::WM_USER + 0x310;

intptr_t QuitOnRepairEnd(platform::WindowHandle window, uint32_t message, uintptr_t wParam,
                         intptr_t lParam) {
    if (message == WM_TEST_REPAIR_ENDED) platform::PostQuitMessage(0);
    return platform::DefWindowProc(window, message, wParam, lParam);
}

TEST(EngineRepairTest, ARestoredFileComesFromTheRepairSiteAndTheBackupAtOnce) {
    TempDir client("qg_engine_repair_client"), site("qg_engine_repair_site"),
        backup("qg_engine_repair_backup"), logs("qg_engine_repair_logs");
    testing_support::ScopedCurrentDir cwd(client.path());
    const std::string published = RandomBytes(kFileBytes, 5);
    WriteFile("data.bin", RandomBytes(kFileBytes, 6));  // damaged
    for (const TempDir* root : {&site, &backup}) {
        fs::create_directories(root->path() / "repair");
        WriteFile(*root / "repair/current.ver",
                  "current|1\r\ndata.bin|" + SizeHex(published.size()) + "|" +
                      SizeHex(AXP::Crc(published.data(), published.size())) + "|0|\r\n");
        WriteFile(*root / "repair/data.bin", published);
    }
    WebServer primary(site.path(), logs.path() / "primary.log");
    WebServer second(backup.path(), logs.path() / "backup.log");
    ASSERT_TRUE(UseEngineInProcess({}));

    LauncherConfig config;
    config.downloadDir = "download\\";
    config.repairUrl = primary.Url("/repair/");
    config.backupServers = {second.host()};
    config.engine.enabled = true;
    platform::RegisterWindowClass("TEST_ENGINE_REPAIR", &QuitOnRepairEnd);
    const platform::WindowHandle window = platform::CreateMessageWindow("TEST_ENGINE_REPAIR");
    AXP::Updater updater;
    CRepairWorker worker;
    CRepairWorker::Hooks hooks;
    hooks.finished = [window] { platform::PostMessage(window, WM_TEST_REPAIR_ENDED, 0, 0); };
    worker.SetHooks(hooks);
    ASSERT_TRUE(worker.Start(window, &updater, config));
    platform::Message msg;
    while (platform::GetMessage(msg)) platform::DispatchMessage(msg);
    worker.Join();
    platform::DestroyMessageWindow(window);

    EXPECT_TRUE(worker.completed());
    EXPECT_EQ(worker.repairedCount(), 1);
    EXPECT_TRUE(ReadFile("data.bin") == published);
    EXPECT_GT(primary.Sent("/repair/data.bin"), 0);
    EXPECT_GT(second.Sent("/repair/data.bin"), 0);
    EXPECT_GT(primary.Sent("/repair/current.ver"), 0) << "the list comes from the site";
    EXPECT_EQ(second.Sent("/repair/current.ver"), 0);
}

}  // namespace
