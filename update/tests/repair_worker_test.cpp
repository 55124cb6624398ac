// The repair pipeline end to end in one process: a published client and its file list on
// a real site on 127.0.0.1, a damaged copy as the current directory, real packs, real
// local packages and the real updater, and a recording stand-in for the main window.
#include "update/repair_worker.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "axp/catalogue.h"
#include "axp/crc.h"
#include "axp/pack_file.h"
#include "axp/updater.h"
#include "platform/file_fault.h"
#include "platform/messages.h"
#include "testing/package_builder.h"
#include "testing/python_server.h"
#include "testing/temp_dir.h"
#include "update/launch_messages.h"
#include "update/message_table.h"
#include "update/release_trust.h"
#include "update/signature.h"

namespace {

namespace fs = std::filesystem;
using axp_test::PackEntry;
using testing_support::ReadFile;
using testing_support::SiteServer;
using testing_support::TempDir;
using testing_support::WriteFile;

constexpr uint32_t WM_TEST_REPAIR_ENDED = platform::WM_USER + 0x300;

struct Recorded {
    uint32_t message;
    std::string text;
};

// Records what the repair shows, as the main window would receive it.
struct Recorder {
    std::vector<Recorded> messages;
    std::function<void(const Recorded&)> onMessage;

    static intptr_t Proc(platform::WindowHandle w, uint32_t m, uintptr_t wp, intptr_t) {
        auto* self = reinterpret_cast<Recorder*>(platform::GetWindowUserData(w));
        if (m == WM_TEST_REPAIR_ENDED) {
            platform::PostQuitMessage(0);
            return 0;
        }
        std::string text;
        if (m == WM_REPAIR_STATUS || m == WM_REPAIR_DETAIL || m == WM_REPAIR_ERROR)
            text = reinterpret_cast<const char*>(wp);
        else
            text = std::to_string(wp);
        self->messages.push_back({m, text});
        if (self->onMessage) self->onMessage(self->messages.back());
        return 0;
    }
    std::vector<std::string> Texts(uint32_t message) const {
        std::vector<std::string> out;
        for (const Recorded& r : messages)
            if (r.message == message) out.push_back(r.text);
        return out;
    }
    bool Has(uint32_t message, const std::string& text) const {
        const auto texts = Texts(message);
        return std::find(texts.begin(), texts.end(), text) != texts.end();
    }
};

std::string Hex8(uint32_t v) {
    char text[16];
    std::snprintf(text, sizeof(text), "%08X", v);
    return text;
}

std::string ListLine(const std::string& path, const std::string& content, int type,
                     const std::string& pack) {
    return path + "|" + Hex8(static_cast<uint32_t>(content.size())) + "|" +
           Hex8(AXP::Crc(content.data(), content.size())) + "|" + std::to_string(type) + "|" +
           pack + "\r\n";
}

// A whole list: the header counts the lines that follow.
std::string ListText(const std::string& lines) {
    return "current|" + std::to_string(std::count(lines.begin(), lines.end(), '\n')) + "\r\n" +
           lines;
}

// Loose files and packs of the client as published.
const std::map<std::string, std::string> kLooseFiles = {
    {"readme.txt", "the published readme\r\n"},
    {"bin/engine.dll", std::string(70000, 'e') + "engine"},
    {"empty.txt", ""},
};

std::map<std::string, PackEntry> DataPack() {
    auto text = [](size_t n, uint32_t seed) {
        auto bytes = axp_test::TextBytes(n, seed);
        return std::string(bytes.begin(), bytes.end());
    };
    std::map<std::string, PackEntry> entries;
    entries["stored.txt"] = {text(3000, 1), 0, 0};
    entries["xor.dat"] = {text(5000, 2), 1, 0};
    entries["lzo.dat"] = {text(90000, 3), 2, 0};
    entries["models/lzma.mdl"] = {text(120000, 4), 3, 0};
    entries["zero.dat"] = {"", 3, 0};
    return entries;
}

std::map<std::string, PackEntry> MorePack() {
    return {{"more.txt", {"another pack's entry", 2, 0}}};
}

class RepairTest : public ::testing::Test {
  protected:
    void SetUp() override {
        platform::RegisterWindowClass("TEST_REPAIR_WINDOW", &Recorder::Proc);
        Install(reference_.path());
        Install(client_.path());
        Publish();
    }

    // A whole client: loose files and two packs (one in a sub-folder).
    static void Install(const fs::path& dir) {
        for (const auto& [name, content] : kLooseFiles) {
            fs::create_directories((dir / name).parent_path());
            WriteFile((dir / name).string(), content);
        }
        axp_test::MakePack((dir / "data.pak").string(), DataPack());
        axp_test::MakePack((dir / "sub/more.pak").string(), MorePack());
    }

    // The site: the list, and every file at the URL path the repair asks for. Empty
    // files are left out: the repair must never ask for them.
    void Publish(const std::string& extraLines = "", bool withCatalogues = true) {
        std::string list;
        for (const auto& [name, content] : kLooseFiles) {
            list += ListLine(name, content, 0, "");
            if (!content.empty()) PublishFile(name, content);
        }
        for (const auto& [pack, entries] : {std::pair{std::string("data.pak"), DataPack()},
                                            std::pair{std::string("sub/more.pak"), MorePack()}}) {
            std::map<std::string, PackEntry> withList = entries;
            withList["(list)"] = {axp_test::ListText(entries), 0, 0};
            for (const auto& [name, e] : withCatalogues ? withList : entries) {
                list += ListLine(name, e.content, e.type, pack);
                if (!e.content.empty()) PublishFile(pack + "/" + name, e.content);
            }
        }
        WriteFile(site_ / "current.ver", ListText(list + extraLines));
    }

    void PublishFile(const std::string& path, const std::string& content) {
        fs::create_directories((site_.path() / path).parent_path());
        WriteFile(site_ / path, content);
    }

    // Runs a repair to its end; true when it completed.
    // `worker` (default: the fixture's) runs it; packs are opened through `packFileSystem`.
    bool Repair(std::function<bool()> gameRunning = nullptr,
                platform::IFileSystem* packFileSystem = nullptr, CRepairWorker* worker = nullptr) {
        CRepairWorker& w = worker != nullptr ? *worker : worker_;
        const platform::WindowHandle window = platform::CreateMessageWindow("TEST_REPAIR_WINDOW");
        platform::SetWindowUserData(window, reinterpret_cast<intptr_t>(&recorder_));
        LauncherConfig config;
        config.downloadDir = "download\\";
        config.repairUrl = server_.Url("/");
        fs::create_directories("download");
        w.SetHooks({gameRunning, nullptr, nullptr,
                    [window] { platform::PostMessage(window, WM_TEST_REPAIR_ENDED, 0, 0); },
                    packFileSystem});
        if (w.Start(window, &updater_, config)) {
            platform::Message msg;
            while (platform::GetMessage(msg)) platform::DispatchMessage(msg);
        }
        w.Join();
        platform::DestroyMessageWindow(window);
        return w.completed() && recorder_.Texts(WM_REPAIR_DONE).size() == 1;
    }

    // The client as the reference compares it: the launcher's own folder left out.
    static axp_test::ClientSnapshot Picture(const fs::path& dir) {
        axp_test::ClientSnapshot s = axp_test::Snapshot(dir);
        for (auto it = s.files.begin(); it != s.files.end();)
            it = it->first.rfind("download/", 0) == 0 ? s.files.erase(it) : std::next(it);
        return s;
    }

    void ExpectExact() {
        const auto want = Picture(reference_.path());
        const auto got = Picture(client_.path());
        EXPECT_TRUE(got == want) << axp_test::Describe(want, got);
        EXPECT_TRUE(got.inconsistent.empty());
    }

    static void DamageEntry(const std::string& pack, const std::string& name) {
        AXP::BlockEntry block;
        {
            AXP::PackFile p;
            ASSERT_TRUE(p.Open(pack, true));
            ASSERT_TRUE(p.GetBlockEntry(name, block));
        }
        std::fstream f(pack, std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(block.offset + block.storedSize / 2);
        const char junk[16] = "\x13\x37garbage!!";
        f.write(junk, std::min<uint32_t>(16, block.storedSize));
    }

    static void GarbleHeader(const std::string& pack) {
        std::fstream f(pack, std::ios::in | std::ios::out | std::ios::binary);
        f.write(std::string(40, 'x').data(), 40);
    }

    static void RemoveEntry(const std::string& pack, const std::string& name) {
        AXP::PackFile p;
        ASSERT_TRUE(p.Open(pack, false));
        ASSERT_TRUE(p.RemoveFile(name, true));
        ASSERT_TRUE(p.Close());
    }

    // A sealed local package under download/, written at `age` seconds in the past.
    static void LocalPatch(const std::string& name, const std::vector<axp_test::ZipMember>& members,
                           int age) {
        const std::string path = "download/" + name;
        fs::create_directories("download");
        ASSERT_TRUE(axp_test::WritePackage(path, AXP::PackageForm::kSealed, "", members));
        fs::last_write_time(path, fs::file_time_type::clock::now() - std::chrono::seconds(age));
    }

    TempDir reference_{"qg_repair_reference"};
    TempDir client_{"qg_repair_client"};
    testing_support::ScopedCurrentDir cwd_{client_.path()};
    TempDir site_{"qg_repair_site"};
    SiteServer server_{site_.path().string()};
    Recorder recorder_;
    AXP::Updater updater_;
    CRepairWorker worker_;
};

// The real updater, counting the conversions of local packages by source file name.
class CountingUpdater : public AXP::IUpdater {
  public:
    std::map<std::string, int> conversions;
    bool ConvertPackageForm(std::string_view source, std::string_view destination) override {
        const std::string path(source);
        ++conversions[path.substr(path.find_last_of("\\/") + 1)];
        return real_.ConvertPackageForm(source, destination);
    }
    bool VerifyPackageFile(std::string_view path) override { return real_.VerifyPackageFile(path); }
    bool AddPatchPackage(std::string_view path, std::string_view extension) override {
        return real_.AddPatchPackage(path, extension);
    }
    uint32_t GetPendingCount() override { return real_.GetPendingCount(); }
    bool SetTempDirectory(std::string_view path) override { return real_.SetTempDirectory(path); }
    bool ApplyPatches(std::string_view dir, std::string_view extension, std::string_view last,
                      AXP::UpdateProgressCallback callback) override {
        return real_.ApplyPatches(dir, extension, last, callback);
    }
    bool ApplyPatches(std::string_view dir, std::string_view extension, std::string_view last,
                      AXP::UpdateProgressContextCallback callback, void* context) override {
        return real_.ApplyPatches(dir, extension, last, callback, context);
    }
    bool ComputeFileCrc(std::string_view path, uint32_t& crc, bool skipTrailer) override {
        return real_.ComputeFileCrc(path, crc, skipTrailer);
    }

  private:
    AXP::Updater real_;
};

TEST_F(RepairTest, EveryKindOfDamageIsRestoredExactly) {
    const std::string lzo = DataPack()["lzo.dat"].content;
    struct Case {
        const char* name;
        std::function<void()> damage;
        int repaired;
    };
    const std::vector<Case> cases = {
        {"loose file with one byte changed",
         [] {
             std::string s = ReadFile("readme.txt");
             s[3] ^= 1;
             WriteFile("readme.txt", s);
         },
         1},
        {"truncated loose file", [] { fs::resize_file("bin/engine.dll", 100); }, 1},
        {"missing loose file", [] { fs::remove("bin/engine.dll"); }, 1},
        {"stored entry damaged", [] { DamageEntry("data.pak", "stored.txt"); }, 1},
        {"XOR entry damaged", [] { DamageEntry("data.pak", "xor.dat"); }, 1},
        {"LZO entry damaged", [] { DamageEntry("data.pak", "lzo.dat"); }, 1},
        {"LZMA entry damaged", [] { DamageEntry("data.pak", "models/lzma.mdl"); }, 1},
        {"missing entry", [] { RemoveEntry("data.pak", "xor.dat"); }, 1},
        {"missing pack", [] { fs::remove("sub/more.pak"); }, 2},
        {"pack with a garbage header", [] { GarbleHeader("sub/more.pak"); }, 2},
        {"size-0 entry and file, never downloaded",
         [] {
             RemoveEntry("data.pak", "zero.dat");
             fs::remove("empty.txt");
         },
         2},
        {"file held by the newer of two local packages, not on the site",
         [&] {
             fs::remove(site_.path() / "data.pak/lzo.dat");
             DamageEntry("data.pak", "lzo.dat");
             std::string stale = lzo;
             stale[0] ^= 1;
             LocalPatch("old.patch", {{"data.pak/lzo.dat", stale}}, 100);
             LocalPatch("new.patch", {{"data.pak/lzo.dat", lzo}}, 10);
         },
         1},
        {"local copy with the wrong CRC, downloaded instead",
         [&] {
             DamageEntry("data.pak", "lzo.dat");
             std::string stale = lzo;
             stale[0] ^= 1;
             LocalPatch("only.patch", {{"data.pak/lzo.dat", stale}}, 10);
         },
         1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // A fresh client and site per case.
        for (const auto& e : fs::directory_iterator(client_.path())) fs::remove_all(e.path());
        for (const auto& e : fs::directory_iterator(site_.path())) fs::remove_all(e.path());
        Install(client_.path());
        Publish();
        recorder_.messages.clear();
        c.damage();
        ASSERT_TRUE(Repair()) << (recorder_.Texts(WM_REPAIR_ERROR).empty()
                                      ? std::string()
                                      : recorder_.Texts(WM_REPAIR_ERROR).back());
        EXPECT_EQ(worker_.repairedCount(), c.repaired);
        ExpectExact();
        EXPECT_FALSE(fs::exists("download/current.ver"));
        EXPECT_FALSE(fs::exists("sub/more.pak.~unreadable"));
    }
}

TEST_F(RepairTest, LocalPackagesAreTriedNewestFirstAndConvertedOncePerRun) {
    const auto data = DataPack();
    DamageEntry("data.pak", "lzo.dat");
    fs::remove("readme.txt");
    // Both packages hold both files: the older one is never even converted.
    LocalPatch("a-old.patch",
               {{"readme.txt", kLooseFiles.at("readme.txt")},
                {"data.pak/lzo.dat", data.at("lzo.dat").content}},
               100);
    LocalPatch("b-new.patch",
               {{"readme.txt", kLooseFiles.at("readme.txt")},
                {"data.pak/lzo.dat", data.at("lzo.dat").content}},
               10);
    fs::remove_all(site_.path() / "data.pak");
    fs::remove(site_.path() / "readme.txt");
    CountingUpdater counting;
    const platform::WindowHandle window = platform::CreateMessageWindow("TEST_REPAIR_WINDOW");
    platform::SetWindowUserData(window, reinterpret_cast<intptr_t>(&recorder_));
    LauncherConfig config;
    config.downloadDir = "download\\";
    config.repairUrl = server_.Url("/");
    worker_.SetHooks({nullptr, nullptr, nullptr,
                      [window] { platform::PostMessage(window, WM_TEST_REPAIR_ENDED, 0, 0); }});
    ASSERT_TRUE(worker_.Start(window, &counting, config));
    platform::Message msg;
    while (platform::GetMessage(msg)) platform::DispatchMessage(msg);
    worker_.Join();
    platform::DestroyMessageWindow(window);
    ASSERT_TRUE(worker_.completed());
    EXPECT_EQ(worker_.repairedCount(), 2);
    ExpectExact();
    EXPECT_EQ(counting.conversions, (std::map<std::string, int>{{"b-new.patch", 1}}));
    EXPECT_FALSE(fs::exists("download/cache/b-new.~patch"));
}

TEST_F(RepairTest, ListOfAnotherShapeOrReachingOutsideIsRefusedWithNothingWritten) {
    fs::remove("readme.txt");
    const char* lines[] = {
        "x.dat|00000001|00000000|0\r\n",     // four fields
        "x.dat|00000001|00000000|0||y\r\n",  // six fields
        "../escaped.txt|00000001|00000000|0|\r\n", "x|00000001|00000000|0|/tmp/evil.pak\r\n",
        "x|00000001|00000000|0|C:\\evil.pak\r\n",
        "README.TXT|00000001|00000000|0|\r\n",  // named twice
    };
    for (const char* line : lines) {
        SCOPED_TRACE(line);
        recorder_.messages.clear();
        Publish(line);
        EXPECT_FALSE(Repair());
        EXPECT_TRUE(
            recorder_.Has(WM_REPAIR_ERROR, GetMessageText(MessageId::kLocalVersionFileBad)));
        EXPECT_EQ(recorder_.Texts(WM_REPAIR_DETAIL).back(),
                  GetMessageText(MessageId::kGoToOperatorSite));
        EXPECT_FALSE(fs::exists("download/current.ver"));
        EXPECT_FALSE(fs::exists("readme.txt"));
        EXPECT_FALSE(fs::exists(client_.path().parent_path() / "escaped.txt"));
        EXPECT_EQ(worker_.repairedCount(), 0);
    }
}

TEST_F(RepairTest, SkippedNamesAreNeverExamined) {
    const char* names[] = {"quillgate.exe",  "QuillGate.bin",  "ver.id",
                           "style.cfg",      "download/x.dat", "DirectX9/setup.exe",
                           "quillgate.lock", "release.serial", "serverlist.serial",
                           "qg-rundll"};
    std::string lines;
    for (const char* name : names) {
        fs::create_directories(fs::path(name).parent_path().empty() ? "."
                                                                    : fs::path(name).parent_path());
        WriteFile(name, "local copy");
        lines += std::string(name) + "|00000099|12345678|0|\r\n";
    }
    Publish(lines);
    ASSERT_TRUE(Repair());
    EXPECT_EQ(worker_.repairedCount(), 0);
    for (const char* name : names) EXPECT_EQ(ReadFile(name), "local copy") << name;
    // Counted only over the files examined: 3 loose files and 8 pack entries.
    EXPECT_TRUE(recorder_.Has(WM_REPAIR_DETAIL, FormatMessage<MessageId::kCheckingFiles>(11, 11)));
}

TEST_F(RepairTest, StopBetweenTwoFilesEndsWithoutDone) {
    fs::remove("empty.txt");
    recorder_.onMessage = [this](const Recorded& r) {
        if (r.text == FormatMessage<MessageId::kCheckingFiles>(1, 11)) worker_.SignalStop();
    };
    EXPECT_FALSE(Repair());
    EXPECT_TRUE(recorder_.Texts(WM_REPAIR_DONE).empty());
    EXPECT_FALSE(recorder_.Has(WM_REPAIR_DETAIL, FormatMessage<MessageId::kCheckingFiles>(2, 11)));
    EXPECT_FALSE(fs::exists("empty.txt"));
}

TEST_F(RepairTest, VolumeShownOnlyWhenTheRoundedPercentageChanges) {
    // 1 + 1 + 998 bytes: 0.1 % and 0.2 % round to 0, so only the last file moves the bar.
    for (const auto& e : fs::directory_iterator(client_.path())) fs::remove_all(e.path());
    WriteFile("a", "1");
    WriteFile("b", "2");
    WriteFile("c", std::string(998, 'c'));
    WriteFile(site_ / "current.ver",
              ListText(ListLine("a", "1", 0, "") + ListLine("b", "2", 0, "") +
                       ListLine("c", std::string(998, 'c'), 0, "")));
    ASSERT_TRUE(Repair());
    // Download texts share the status line; the volume texts are those of message 66.
    const std::string text66 = GetMessageText(MessageId::kRepairProgress);
    const std::string prefix = text66.substr(0, text66.find('%'));
    std::vector<std::string> shown;
    for (const std::string& s : recorder_.Texts(WM_REPAIR_STATUS))
        if (s.rfind(prefix, 0) == 0) shown.push_back(s);
    EXPECT_EQ(shown, std::vector<std::string>{FormatMessage<MessageId::kRepairProgress>(
                         std::string("1000"), std::string("1000"), 0)});
    std::vector<std::string> bar = recorder_.Texts(WM_REPAIR_PROGRESS);
    EXPECT_EQ(bar.back(), "100");
    EXPECT_EQ(std::count(bar.begin(), bar.end(), "100"), 1);
}

TEST_F(RepairTest, SiteFileThatIsNotTheListedOneIsNeverInstalled) {
    const std::string original = kLooseFiles.at("readme.txt");
    std::string sameSize = original;
    sameSize[0] ^= 1;
    for (const std::string& served : {sameSize, original + "longer"}) {
        recorder_.messages.clear();
        WriteFile("readme.txt", "damaged");
        WriteFile(site_ / "readme.txt", served);
        EXPECT_FALSE(Repair());
        EXPECT_EQ(ReadFile("readme.txt"), "damaged");
        EXPECT_TRUE(recorder_.Has(
            WM_REPAIR_ERROR, FormatMessage<MessageId::kRepairFailed>(std::string("readme.txt"))));
    }
}

TEST_F(RepairTest, UnreadablePackIsPutBackWhenItCannotBeRebuilt) {
    GarbleHeader("sub/more.pak");
    const std::string damaged = ReadFile("sub/more.pak");
    fs::remove(site_.path() / "sub/more.pak/more.txt");
    EXPECT_FALSE(Repair());
    EXPECT_TRUE(ReadFile("sub/more.pak") == damaged);
    EXPECT_FALSE(fs::exists("sub/more.pak.~unreadable"));
}

// The state a run killed while it rebuilt a pack can leave: the next run completes the
// repair and nothing stays set aside.
TEST_F(RepairTest, KilledRebuildIsCompletedByTheNextRun) {
    // Checked in list order: 3 loose files, data.pak's 6 entries (4 to 9), then sub/more.pak.
    for (int killAt = 4; killAt <= 10; ++killAt) {
        SCOPED_TRACE("killed as entry " + std::to_string(killAt) + " of 11 was checked");
        for (const auto& e : fs::directory_iterator(client_.path())) fs::remove_all(e.path());
        Install(client_.path());
        GarbleHeader("data.pak");
        recorder_.messages.clear();
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            // A worker of its own: the threads of the fixture's do not exist in the child.
            CRepairWorker worker;
            recorder_.onMessage = [killAt](const Recorded& r) {
                if (r.text == FormatMessage<MessageId::kCheckingFiles>(killAt, 11)) raise(SIGKILL);
            };
            Repair(nullptr, nullptr, &worker);
            _exit(3);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;
        ASSERT_TRUE(Repair()) << recorder_.Texts(WM_REPAIR_ERROR).back();
        ExpectExact();
        EXPECT_FALSE(fs::exists("data.pak.~unreadable"));
    }
    // Killed between setting the pack aside and creating the new one.
    GarbleHeader("data.pak");
    fs::rename("data.pak", "data.pak.~unreadable");
    recorder_.messages.clear();
    ASSERT_TRUE(Repair()) << recorder_.Texts(WM_REPAIR_ERROR).back();
    ExpectExact();
    EXPECT_FALSE(fs::exists("data.pak.~unreadable"));
}

// The last write of a rebuild is the new pack's header at its close: when it fails, the
// unreadable pack is put back (the client as before this repair), and the next run repairs.
TEST_F(RepairTest, FailedCloseAfterARebuildPutsThePackBack) {
    GarbleHeader("sub/more.pak");
    const std::string damaged = ReadFile("sub/more.pak");
    platform::FaultInjectingFileSystem counting;
    ASSERT_TRUE(Repair(nullptr, &counting));
    const uint64_t writes = counting.writeCount();

    for (const auto& e : fs::directory_iterator(client_.path())) fs::remove_all(e.path());
    Install(client_.path());
    GarbleHeader("sub/more.pak");
    recorder_.messages.clear();
    platform::FaultInjectingFileSystem failing;
    failing.FailWriteNumber(writes);
    EXPECT_FALSE(Repair(nullptr, &failing));
    EXPECT_EQ(failing.writeCount(), writes);
    EXPECT_TRUE(ReadFile("sub/more.pak") == damaged);
    EXPECT_FALSE(fs::exists("sub/more.pak.~unreadable"));

    recorder_.messages.clear();
    ASSERT_TRUE(Repair());
    ExpectExact();
}

// A list that does not restore a pack's "(list)" itself: every entry the repair restores
// is named in it, so the pack passes its check and later diffs see the entry.
TEST_F(RepairTest, RestoredEntriesAreNamedInThePacksCatalogue) {
    const std::vector<std::pair<const char*, std::function<void()>>> cases = {
        {"entry missing from the pack and its catalogue",
         [] {
             RemoveEntry("data.pak", "xor.dat");
             AXP::PackFile pack;
             AXP::Catalogue catalogue;
             ASSERT_TRUE(pack.Open("data.pak", false));
             ASSERT_TRUE(AXP::ReadCatalogue(pack, catalogue));
             catalogue.erase("xor.dat");
             ASSERT_TRUE(AXP::WriteCatalogue(pack, catalogue));
             ASSERT_TRUE(pack.Close());
         }},
        {"pack missing", [] { fs::remove("data.pak"); }},
    };
    for (const auto& [name, damage] : cases) {
        SCOPED_TRACE(name);
        for (const auto& e : fs::directory_iterator(client_.path())) fs::remove_all(e.path());
        for (const auto& e : fs::directory_iterator(site_.path())) fs::remove_all(e.path());
        Install(client_.path());
        Publish("", false);
        recorder_.messages.clear();
        damage();
        ASSERT_TRUE(Repair());
        ExpectExact();
    }
}

// A restored file keeps the mode of the one it replaces; a missing one is made runnable
// only when it is an ELF image or a script.
TEST_F(RepairTest, RestoredFilesKeepTheirMode) {
    const std::map<std::string, std::string> files = {
        {"run.sh", "#!/bin/sh\necho run\n"},
        {"secret.txt", "for the owner only\n"},
        {"bin/game", std::string("\x7f"
                                 "ELF\x02\x01\x01",
                                 7) +
                         std::string(100, '\0')},
        {"notes.txt", "plain notes\n"},
    };
    std::string lines;
    for (const auto& [name, content] : files) {
        lines += ListLine(name, content, 0, "");
        PublishFile(name, content);
    }
    Publish(lines);
    WriteFile("run.sh", "#!/bin/sh\necho damaged\n");
    fs::permissions("run.sh", fs::perms(0755));
    WriteFile("secret.txt", "damaged");
    fs::permissions("secret.txt", fs::perms(0600));
    ASSERT_TRUE(Repair());
    const std::map<std::string, fs::perms> modes = {{"run.sh", fs::perms(0755)},
                                                    {"secret.txt", fs::perms(0600)},
                                                    {"bin/game", fs::perms(0755)},
                                                    {"notes.txt", fs::perms(0644)}};
    for (const auto& [name, mode] : modes) {
        EXPECT_EQ(ReadFile(name), files.at(name)) << name;
        EXPECT_EQ(fs::status(name).permissions(), mode) << name;
    }
}

// Whatever the list, a repair never puts an older or another edition's ".ver" in place.
TEST_F(RepairTest, VersionFileIsNeverTakenBack) {
    struct Case {
        const char* published;
        bool restored;
    } cases[] = {{"CN.1.0.0|older\r\n", false},
                 {"KR.1.0.5|another edition\r\n", false},
                 {"", false},
                 {"CN.1.0.2|newer\r\n", true},
                 {"CN.1.0.1|same\r\n", true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.published);
        recorder_.messages.clear();
        const std::string installed = "CN.1.0.1|installed, damaged\r\n";
        WriteFile(".ver", installed);
        if (*c.published != '\0') PublishFile(".ver", c.published);
        Publish(ListLine(".ver", c.published, 0, ""));
        EXPECT_EQ(Repair(), c.restored);
        EXPECT_EQ(ReadFile(".ver"), c.restored ? c.published : installed);
        if (!c.restored) {
            EXPECT_EQ(recorder_.Texts(WM_REPAIR_ERROR)
                          .at(0)
                          .rfind(FormatMessage<MessageId::kRepairFailed>(std::string(".ver")), 0),
                      0u);
        }
    }
}

TEST_F(RepairTest, JoiningFromTheWindowsThreadHandlesTheRepairsMessages) {
    fs::remove("readme.txt");
    const platform::WindowHandle window = platform::CreateMessageWindow("TEST_REPAIR_WINDOW");
    platform::SetWindowUserData(window, reinterpret_cast<intptr_t>(&recorder_));
    LauncherConfig config;
    config.downloadDir = "download\\";
    config.repairUrl = server_.Url("/");
    ASSERT_TRUE(worker_.Start(window, &updater_, config));
    worker_.Join();  // no message loop: every send must still be answered
    platform::DestroyMessageWindow(window);
    EXPECT_TRUE(worker_.completed());
    EXPECT_EQ(recorder_.Texts(WM_REPAIR_DONE).size(), 1u);
    ExpectExact();
}

// Gives the list from the site's folder; every other download runs until it is stopped.
class EndlessDownloader : public CAutoDownload {
  public:
    explicit EndlessDownloader(std::string siteFolder) : site_(std::move(siteFolder)) {}
    uint32_t GetKind() override { return 0; }
    uint32_t GetState() override { return state_.load(); }
    bool GetProgress(int64_t&, int64_t&) override { return false; }
    uint32_t GetSpeed() override { return 0; }
    bool SetTask(const char* url, const char* localPath, platform::WindowHandle,
                 uint32_t) override {
        url_ = url;
        localPath_ = localPath;  // the launcher's "\" separators, as a native path
        std::replace(localPath_.begin(), localPath_.end(), '\\', '/');
        state_ = DOWNLOAD_READY;
        return true;
    }
    void Reset() override { state_ = DOWNLOAD_IDLE; }
    void Start() override {
        ended_.Reset();
        state_ = DOWNLOAD_RUNNING;
        if (url_.size() >= 11 && url_.compare(url_.size() - 11, 11, "current.ver") == 0) {
            fs::copy_file(site_ + "/current.ver", localPath_, fs::copy_options::overwrite_existing);
            state_ = DOWNLOAD_FINISHED;
            ended_.Set();
        }
    }
    void Stop() override {
        state_ = DOWNLOAD_IDLE;
        ended_.Set();
    }
    bool Wait(bool) override {
        platform::WaitPumpingMessages(ended_);
        return true;
    }

  private:
    std::string site_, url_, localPath_;
    std::atomic<uint32_t> state_{DOWNLOAD_IDLE};
    platform::Event ended_{true, false};
};

TEST_F(RepairTest, StopCutsShortADownloadUnderWayAndShowsNoFailure) {
    fs::remove("readme.txt");
    const std::string site = site_.path().string();
    recorder_.onMessage = [this](const Recorded& r) {
        if (r.text == FormatMessage<MessageId::kFetchingFromServer>(std::string("readme.txt")))
            worker_.SignalStop();  // the download starts right after this text
    };
    const platform::WindowHandle window = platform::CreateMessageWindow("TEST_REPAIR_WINDOW");
    platform::SetWindowUserData(window, reinterpret_cast<intptr_t>(&recorder_));
    LauncherConfig config;
    config.downloadDir = "download\\";
    config.repairUrl = "http://127.0.0.1:9/";
    worker_.SetHooks(
        {nullptr, nullptr,
         [site] { return std::unique_ptr<CAutoDownload>(new EndlessDownloader(site)); }, nullptr});
    ASSERT_TRUE(worker_.Start(window, &updater_, config));
    worker_.Join();
    platform::DestroyMessageWindow(window);
    EXPECT_FALSE(worker_.completed());
    EXPECT_TRUE(recorder_.Texts(WM_REPAIR_DONE).empty());
    EXPECT_EQ(recorder_.Texts(WM_REPAIR_ERROR), std::vector<std::string>());
    EXPECT_FALSE(fs::exists("readme.txt"));
}

TEST_F(RepairTest, RunningGameThatIsNotClosedStopsTheRepairBeforeAnything) {
    fs::remove("readme.txt");
    EXPECT_FALSE(Repair([] { return true; }));
    EXPECT_EQ(recorder_.Texts(WM_REPAIR_ERROR),
              std::vector<std::string>{GetMessageText(MessageId::kGameRunning)});
    EXPECT_FALSE(fs::exists("readme.txt"));
    EXPECT_FALSE(recorder_.Has(WM_REPAIR_DETAIL, GetMessageText(MessageId::kAnalysingLocalFiles)));
}

}  // namespace
