// qgpatch repair-site, run as the operator runs it, and the launcher's repair against the
// site it publishes: the two must agree on every name and URL, and on a signed site
// nothing but what the operator published for the client's release is installed.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <functional>

#include "axp/catalogue.h"
#include "axp/crc.h"
#include "axp/updater.h"
#include "platform/messages.h"
#include "testing/crc_forgery.h"
#include "testing/package_builder.h"
#include "testing/python_server.h"
#include "testing/temp_dir.h"
#include "update/launch_messages.h"
#include "update/message_table.h"
#include "update/release_trust.h"
#include "update/repair_digests.h"
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

std::string Text(size_t n, uint32_t seed) {
    auto bytes = axp_test::TextBytes(n, seed);
    return std::string(bytes.begin(), bytes.end());
}

// Keeps the repair's errors, and ends the message loop when the repair ends.
struct ErrorRecorder {
    std::vector<std::string> errors;
    static intptr_t Proc(platform::WindowHandle w, uint32_t m, uintptr_t wp, intptr_t lp) {
        auto* self = reinterpret_cast<ErrorRecorder*>(platform::GetWindowUserData(w));
        if (m == WM_TEST_ENDED) platform::PostQuitMessage(0);
        if (m == WM_REPAIR_ERROR && self != nullptr)
            self->errors.emplace_back(reinterpret_cast<const char*>(wp));
        return platform::DefWindowProc(w, m, wp, lp);
    }
};

class RepairSiteTest : public ::testing::Test {
  protected:
    void SetUp() override {
        MakeClient(published_);
        ASSERT_TRUE(GenerateKeyPair(secret_, key_));
        WriteFile(root_ / "key", SecretKeyFileText(secret_));
    }

    // A client at CN.1.0.1 with loose files (one executable), a pack whose catalogue was
    // made on Windows ("\" separators) and one in a sub-folder, beside the launcher's own
    // files, which are never published.
    static void MakeClient(const fs::path& dir) {
        fs::create_directories(dir / "bin");
        fs::create_directories(dir / "download");
        WriteFile((dir / "bin/engine.dll").string(), Text(40000, 7));
        WriteFile((dir / "bin/start.sh").string(), "#!/bin/sh\nexec ./game \"$@\"\n");
        fs::permissions(dir / "bin/start.sh", fs::perms(0755));
        WriteFile((dir / ".ver").string(), "CN.1.0.1|x\r\n");
        WriteFile((dir / "empty.txt").string(), "");
        for (const char* own : {"quillgate.exe", "quillgate.cfg", "release.serial",
                                "serverlist.serial", "qg-rundll", "download/a.patch"})
            WriteFile((dir / own).string(), "launcher's own");
        axp_test::MakePack((dir / "data.pak").string(),
                           {{"a\\stored.txt", {Text(3000, 1), 0, 0}},
                            {"xor.dat", {Text(5000, 2), 1, 0}},
                            {"models\\lzo.dat", {Text(60000, 3), 2, 0}},
                            {"lzma.dat", {Text(70000, 4), 3, 0}}});
        axp_test::MakePack((dir / "Sub/Two.PAK").string(), {{"two.txt", {"second pack", 2, 0}}});
    }

    int Publish(const std::string& options = "") {
        return Qgpatch("repair-site " + published_.string() + " -o " + site_.string() + " --key " +
                       (root_ / "key") + " " + options);
    }

    void FreshClient() {
        fs::remove_all(client_);
        fs::copy(published_, client_, fs::copy_options::recursive);
    }

    // Runs the launcher's repair in the client folder; true when it completed.
    bool Repair() {
        testing_support::SiteServer server(site_.string());
        testing_support::ScopedCurrentDir cwd(client_);
        platform::RegisterWindowClass("TEST_REPAIR_SITE_WINDOW", &ErrorRecorder::Proc);
        const platform::WindowHandle window =
            platform::CreateMessageWindow("TEST_REPAIR_SITE_WINDOW");
        errors_ = {};
        platform::SetWindowUserData(window, reinterpret_cast<intptr_t>(&errors_));
        LauncherConfig config;
        config.downloadDir = "download\\";
        config.repairUrl = server.Url("/");
        config.publicKey = PublicKeyHex(key_);
        AXP::Updater updater;
        CRepairWorker worker;
        worker.SetHooks({nullptr, nullptr, nullptr,
                         [window] { platform::PostMessage(window, WM_TEST_ENDED, 0, 0); }});
        EXPECT_TRUE(worker.Start(window, &updater, config));
        platform::Message msg;
        while (platform::GetMessage(msg)) platform::DispatchMessage(msg);
        worker.Join();
        platform::DestroyMessageWindow(window);
        repaired_ = worker.repairedCount();
        return worker.completed();
    }

    void ExpectClientAsPublished() {
        fs::remove_all(client_ / "download");
        fs::remove_all(published_ / "download");
        const auto want = axp_test::Snapshot(published_);
        const auto got = axp_test::Snapshot(client_);
        EXPECT_TRUE(got == want) << axp_test::Describe(want, got);
        EXPECT_TRUE(got.inconsistent.empty());
        MakeClient(published_);  // the download folder back
    }

    static void RemoveEntry(const fs::path& pack, const std::string& name) {
        AXP::PackFile p;
        ASSERT_TRUE(p.Open(pack.string(), false));
        ASSERT_TRUE(p.RemoveFile(name, true));
        ASSERT_TRUE(p.Close());
    }

    testing_support::TempDir root_{"qg_repair_site"};
    const fs::path published_ = root_.path() / "published";
    const fs::path site_ = root_.path() / "site";
    const fs::path client_ = root_.path() / "client";
    SecretKey secret_;
    PublicKey key_;
    ErrorRecorder errors_;
    int repaired_ = 0;
};

TEST_F(RepairSiteTest, PublishedSiteRepairsADamagedClientExactly) {
    ASSERT_EQ(Publish(), 0);
    const std::string list = ReadFile((site_ / "current.ver").string());
    RepairList parsed;
    ASSERT_EQ(ParseRepairList(list, parsed), RepairListResult::Ok);
    EXPECT_EQ(parsed.looseFiles.size(), 4u);  // engine.dll, start.sh, .ver, empty.txt
    EXPECT_EQ(parsed.packFiles["data.pak"].size(), 5u);
    EXPECT_EQ(parsed.packFiles["sub/two.pak"].size(), 2u);
    for (const char* own :
         {"quillgate", "release.serial", "serverlist.serial", "qg-rundll", "a.patch"})
        EXPECT_EQ(list.find(own), std::string::npos) << own;
    // The signed companion: this release, and a digest of the list and of every line.
    const std::string digestsText = ReadFile((site_ / kRepairDigestsName).string());
    RepairDigests digests;
    ASSERT_TRUE(ParseRepairDigests(digestsText, digests));
    EXPECT_EQ(digests.version, "CN.1.0.1");
    EXPECT_TRUE(AttachRepairDigests(list, digests, parsed));
    EXPECT_TRUE(SignatureFileVerifies(SignedRole::RepairList, digestsText,
                                      (site_ / "current.ver.sha256.sig").string(), key_));
    // Entries named with "\" in their catalogue are published under "/" paths.
    EXPECT_TRUE(fs::exists(site_ / "data.pak/models/lzo.dat"));

    FreshClient();
    fs::remove(client_ / "data.pak");
    fs::resize_file(client_ / "bin/engine.dll", 10);
    fs::remove(client_ / "empty.txt");
    WriteFile((client_ / "bin/start.sh").string(), "#!/bin/sh\nexit 1\n");
    RemoveEntry(client_ / "Sub/Two.PAK", "two.txt");
    ASSERT_TRUE(Repair()) << errors_.errors.back();
    EXPECT_EQ(repaired_, 5 + 1 + 3);  // data.pak whole, two.txt, three loose files
    EXPECT_EQ(fs::status(client_ / "bin/start.sh").permissions(), fs::perms(0755));
    ExpectClientAsPublished();

    // Entries with "\" in their names restored into a pack that holds the rest.
    RemoveEntry(client_ / "data.pak", "models\\lzo.dat");
    RemoveEntry(client_ / "data.pak", "a\\stored.txt");
    fs::remove(client_ / "bin/start.sh");
    ASSERT_TRUE(Repair()) << errors_.errors.back();
    EXPECT_EQ(repaired_, 3);
    EXPECT_EQ(fs::status(client_ / "bin/start.sh").permissions(), fs::perms(0755));
    ExpectClientAsPublished();
}

// A forgery with the listed size and CRC, on the site or in a local package, is never
// installed: the operator signed the SHA-256 of every file.
TEST_F(RepairSiteTest, ForgeryOfTheSameSizeAndCrcIsNeverInstalled) {
    ASSERT_EQ(Publish(), 0);
    auto forge = [](const std::string& genuine) {
        std::string forged = genuine;
        forged.replace(0, 12, "evil payload");
        return testing_support::ForgeCrc(forged, 16, AXP::Crc(genuine.data(), genuine.size()));
    };
    const std::string engine = ReadFile((published_ / "bin/engine.dll").string());
    const std::string lzo = Text(60000, 3);
    ASSERT_EQ(forge(engine).size(), engine.size());
    ASSERT_EQ(AXP::Crc(forge(engine).data(), engine.size()),
              AXP::Crc(engine.data(), engine.size()));
    struct Case {
        const char* name;
        std::function<void()> forgeAndDamage;
        std::string file;  // in the client
        bool completes;    // the genuine copy is still to be had
    };
    const Case cases[] = {
        {"loose file forged on the site",
         [&] {
             WriteFile((site_ / "bin/engine.dll").string(), forge(engine));
             fs::resize_file(client_ / "bin/engine.dll", 10);
         },
         "bin/engine.dll", false},
        {"pack entry forged on the site",
         [&] {
             WriteFile((site_ / "data.pak/models/lzo.dat").string(), forge(lzo));
             RemoveEntry(client_ / "data.pak", "models\\lzo.dat");
         },
         "data.pak", false},
        {"pack entry forged in a local package, genuine on the site",
         [&] {
             ASSERT_TRUE(axp_test::WritePackage((client_ / "download/forged.patch").string(),
                                                AXP::PackageForm::kSealed, "",
                                                {{"data.pak/models/lzo.dat", forge(lzo)}}));
             RemoveEntry(client_ / "data.pak", "models\\lzo.dat");
         },
         "data.pak", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(Publish(), 0);
        FreshClient();
        c.forgeAndDamage();
        const std::string before = ReadFile((client_ / c.file).string());
        EXPECT_EQ(Repair(), c.completes);
        if (c.completes) {
            ExpectClientAsPublished();
            continue;
        }
        EXPECT_TRUE(ReadFile((client_ / c.file).string()) == before);
        ASSERT_FALSE(errors_.errors.empty());
        EXPECT_NE(errors_.errors[0].find(GetMessageText(MessageId::kDigestMismatch)),
                  std::string::npos)
            << errors_.errors[0];
    }
}

// A signed list is bound to its release: an older release's list, validly signed, or a
// list changed after signing, or signed in another role, is refused before anything is
// touched.
TEST_F(RepairSiteTest, SignedListOfAnotherReleaseOrRoleIsRefused) {
    const MessageId kVersions = MessageId::kVersions;
    struct Case {
        const char* name;
        std::function<void()> tamper;
        std::optional<MessageId> reason;
    };
    const Case cases[] = {
        {"older release (the client is at CN.1.0.2)",
         [this] { WriteFile((client_ / ".ver").string(), "CN.1.0.2|x\r\n"); }, kVersions},
        {"another edition", [this] { WriteFile((client_ / ".ver").string(), "KR.1.0.1|x\r\n"); },
         kVersions},
        {"serial below the newest release the client saw",
         [this] { WriteFile((client_ / kSeenSerialFile).string(), "101\r\n"); },
         MessageId::kSerialReplayed},
        {"list changed after signing",
         [this] {
             std::string list = ReadFile((site_ / "current.ver").string());
             list.replace(list.find("engine.dll|"), 11, "engine.dlx|");
             WriteFile((site_ / "current.ver").string(), list);
         },
         std::nullopt},
        {"digests signed as patch information",
         [this] {
             const std::string text = ReadFile((site_ / kRepairDigestsName).string());
             WriteFile((site_ / "current.ver.sha256.sig").string(),
                       SignatureFileFor(SignedRole::PatchInfo, text, secret_));
         },
         MessageId::kSignatureBad},
        {"no digests (an unsigned site)", [this] { fs::remove(site_ / kRepairDigestsName); },
         MessageId::kSignatureBad},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(site_);
        ASSERT_EQ(Publish("--serial 100"), 0);
        // A serial only grows: launchers that saw this list would refuse a lower one.
        EXPECT_EQ(Publish("--serial 100"), 1);
        FreshClient();
        fs::resize_file(client_ / "bin/engine.dll", 10);
        c.tamper();
        const std::string ver = ReadFile((client_ / ".ver").string());
        EXPECT_FALSE(Repair());
        EXPECT_EQ(repaired_, 0);
        EXPECT_EQ(fs::file_size(client_ / "bin/engine.dll"), 10u);
        EXPECT_EQ(ReadFile((client_ / ".ver").string()), ver);
        ASSERT_EQ(errors_.errors.size(), 1u);
        const std::string& error = errors_.errors[0];
        EXPECT_EQ(error.rfind(GetMessageText(MessageId::kLocalVersionFileBad), 0), 0u) << error;
        if (c.reason) {
            const std::string format = GetMessageText(*c.reason);
            const std::string start = format.substr(0, format.find('%'));
            EXPECT_NE(error.find(start), std::string::npos) << error;
        }
    }
    // The same release and serial as the client saw are the genuine case.
    fs::remove_all(site_);
    ASSERT_EQ(Publish("--serial 100"), 0);
    FreshClient();
    fs::resize_file(client_ / "bin/engine.dll", 10);
    WriteFile((client_ / kSeenSerialFile).string(), "100\r\n");
    EXPECT_TRUE(Repair()) << errors_.errors.at(0);
    EXPECT_EQ(fs::file_size(client_ / "bin/engine.dll"), 40000u);
}

// Names the list cannot carry, or files it cannot describe, refuse the whole site: exit 1
// and nothing written.
TEST_F(RepairSiteTest, NamesAndSizesTheListCannotCarryRefuseTheSite) {
    const std::vector<std::pair<const char*, std::function<void(const fs::path&)>>> cases = {
        {"\"|\" in a file name",
         [](const fs::path& dir) { WriteFile((dir / "a|b.txt").string(), "x"); }},
        {"a line feed in a file name",
         [](const fs::path& dir) { WriteFile((dir / "a\nb.txt").string(), "x"); }},
        {"a carriage return in a folder name",
         [](const fs::path& dir) {
             fs::create_directories(dir / "sub\r");
             WriteFile((dir / "sub\r/b.txt").string(), "x");
         }},
        {"a pack entry named twice (separators aside)",
         [](const fs::path& dir) {
             AXP::PackFile pack;
             AXP::Catalogue catalogue;
             ASSERT_TRUE(pack.Open((dir / "data.pak").string(), false));
             ASSERT_TRUE(AXP::ReadCatalogue(pack, catalogue));
             catalogue["models/lzo.dat"] = catalogue["models\\lzo.dat"];
             ASSERT_TRUE(AXP::WriteCatalogue(pack, catalogue));
             ASSERT_TRUE(pack.Close());
         }},
        {"a file over 4 GiB",
         [](const fs::path& dir) {
             WriteFile((dir / "huge.bin").string(), "");
             fs::resize_file(dir / "huge.bin", (4ull << 30) + 1);  // sparse
         }},
    };
    for (const auto& [name, add] : cases) {
        SCOPED_TRACE(name);
        fs::remove_all(published_);
        fs::remove_all(site_);
        MakeClient(published_);
        add(published_);
        EXPECT_EQ(Publish(), 1);
        EXPECT_FALSE(fs::exists(site_));
    }
}

}  // namespace
