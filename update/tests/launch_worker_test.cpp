// The update pipeline end to end in one process: a real update site on 127.0.0.1, real
// packages, the real updater, and a recording stand-in for the main window.
#include "update/launch_worker.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>

#include "app/launch_messages.h"
#include "app/message_table.h"
#include "axp/package_form.h"
#include "axp/pak_file.h"
#include "axp/stream.h"
#include "axp/updater.h"
#include "axp/zip_writer.h"
#include "platform/messages.h"
#include "testing/python_server.h"
#include "testing/temp_dir.h"
#include "update/position_key.h"

namespace {

namespace fs = std::filesystem;
using testing_support::ReadFile;
using testing_support::SiteServer;
using testing_support::TempDir;
using testing_support::WriteFile;

constexpr uint32_t WM_TEST_WORKER_ENDED = platform::WM_USER + 0x200;

struct Recorded {
    uint32_t message;
    std::string text;
    int result;  // the worker's result when the message arrived
};

// Records what the pipeline shows, as the main window would receive it.
struct Recorder {
    std::vector<Recorded> messages;
    CLaunchWorker* worker = nullptr;

    static intptr_t Proc(platform::WindowHandle w, uint32_t m, uintptr_t wp, intptr_t lp) {
        auto* self = reinterpret_cast<Recorder*>(platform::GetWindowUserData(w));
        if (m == WM_TEST_WORKER_ENDED || m == WM_CLOSE) {
            platform::PostQuitMessage(0);
            return 0;
        }
        std::string text;
        if (m == WM_LAUNCH_STATUS || m == WM_LAUNCH_DETAIL || m == WM_LAUNCH_ERROR) {
            text = reinterpret_cast<const char*>(wp);
        } else if (m == WM_LAUNCH_STATUS2) {
            text =
                std::string(reinterpret_cast<const char*>(wp)) + reinterpret_cast<const char*>(lp);
        } else if (m == WM_LAUNCH_PROGRESS || m == WM_LAUNCH_TOTAL_PROGRESS) {
            text = std::to_string(wp);
        }
        self->messages.push_back({m, text, self->worker->result()});
        return 0;
    }

    std::vector<std::string> Texts(uint32_t message) const {
        std::vector<std::string> out;
        for (const Recorded& r : messages)
            if (r.message == message) out.push_back(r.text);
        return out;
    }
    int Count(uint32_t message) const { return static_cast<int>(Texts(message).size()); }
    bool HasStatus(const std::string& text) const {
        auto s = Texts(WM_LAUNCH_STATUS);
        return std::find(s.begin(), s.end(), text) != s.end();
    }
};

// One package: a command script and the contents it names.
struct PackageSpec {
    std::string script;
    std::map<std::string, std::string> members;
};

class LaunchWorkerTest : public ::testing::Test {
  public:  // the failure table arranges through a reference
    void SetUp() override {
        fs::create_directories(site_.path() / "patch");
        fs::create_directories(backup_.path() / "patch");
        WriteFile(".ver", "CN.1.0.0|first release\r\n");
        WriteFile(site_ / "server.lst", "SERVER_BEGIN\r\n1|east|127.0.0.1:9000\r\n");
        WriteConfig("");
        platform::RegisterWindowClass("TEST_MAIN_WINDOW", &Recorder::Proc);
    }

    void WriteConfig(const std::string& extra) {
        WriteFile("quillgate.cfg", "[quillgate]\r\nverinfo=" + primary_.Url("/patchinfo.txt") +
                                       "\r\nserverlist=" + primary_.Url("/server.lst") +
                                       "\r\nbakserver=" + backup_server_.host() + "\r\n" + extra);
    }

    // Makes a package in `folder`: sealed (the default) or scrambled.
    static void MakePackage(const std::string& path, const PackageSpec& spec, bool sealed) {
        const std::string zip = path + ".zip";
        AXP::ZipWriter writer;
        ASSERT_TRUE(writer.Create(zip));
        ASSERT_TRUE(writer.Add("(command)", spec.script.data(), spec.script.size(), true));
        for (const auto& [name, content] : spec.members)
            ASSERT_TRUE(writer.Add(name, content.data(), content.size(), true));
        ASSERT_TRUE(writer.Finish());
        if (sealed) {
            AXP::Updater converter;
            ASSERT_TRUE(converter.ConvertPackageForm(zip, path));
        } else {
            ASSERT_TRUE(AXP::ScramblePackageFile(zip, path));
        }
        fs::remove(zip);
    }

    void WritePatchInfo(const std::string& latest, const std::string& sections,
                        const std::string& launcher = "CN.9.0") {
        WriteFile(site_ / "patchinfo.txt",
                  "[latest]\r\nlatest=" + latest + "\r\nquillgate=" + launcher +
                      "\r\nnewquillgate=" + primary_.Url("/quillgate.zip") + "\r\n" + sections);
    }

    std::string PatchSection(const std::string& name, const std::string& from,
                             const std::string& to, const std::string& file) {
        return "[" + name + "]\r\nfrom=" + from + "\r\nto=" + to +
               "\r\nurl=" + primary_.Url("/patch/" + file) + "\r\n";
    }

    // Runs the whole pipeline and returns its result.
    int Run(CLaunchWorker::Hooks hooks = {}) {
        const platform::WindowHandle window = platform::CreateMessageWindow("TEST_MAIN_WINDOW");
        platform::SetWindowUserData(window, reinterpret_cast<intptr_t>(&recorder_));
        CLaunchWorker worker;
        recorder_.worker = &worker;
        if (!hooks.freeDiskBytes)
            hooks.freeDiskBytes = [] { return std::optional<uint64_t>(1ULL << 40); };
        hooks.finished = [window] { platform::PostMessage(window, WM_TEST_WORKER_ENDED, 0, 0); };
        worker.SetHooks(hooks);
        AXP::Updater updater;
        if (worker.Start(window, &updater, "quillgate.cfg")) {
            platform::Message msg;
            while (platform::GetMessage(msg)) platform::DispatchMessage(msg);
        }
        worker.Join();
        platform::DestroyMessageWindow(window);
        recorder_.worker = nullptr;
        return worker.result();
    }

    static std::string PackEntry(const std::string& pack, const std::string& name) {
        AXP::PackFile p;
        if (!p.Open(pack, true)) return "(no pack)";
        AXP::IStream* s = p.OpenFile(name);
        if (s == nullptr) return "(no entry)";
        std::string data(p.GetFileSize(name, false), '\0');
        s->Read(data.data(), static_cast<uint32_t>(data.size()));
        return data;
    }

    TempDir client_{"qg_worker_client"};
    testing_support::ScopedCurrentDir cwd_{client_.path()};
    TempDir site_{"qg_worker_site"};
    TempDir backup_{"qg_worker_backup"};
    SiteServer primary_{site_.path().string()};
    SiteServer backup_server_{backup_.path().string()};
    Recorder recorder_;
};

TEST_F(LaunchWorkerTest, ChainOfSealedAndScrambledPackagesWithABackupServer) {
    {
        AXP::PackFile pack;
        fs::create_directories("data");
        ASSERT_TRUE(pack.Create("data/ui.pak"));
        ASSERT_TRUE(pack.AddFile("old", 3, "a.tga", true, true, 0, 0));
        ASSERT_TRUE(pack.AddFile("gone", 4, "b.tga", true, true, 0, 0));
    }
    MakePackage(
        backup_ / "patch/p1.jzq",
        {"0||readme.txt|0|00000005\r\n0|data/ui.pak|a.tga|2|00000008\r\n0||.ver|0|00000008\r\n",
         {{"readme.txt", "hello"}, {"a.tga", "new a v2"}, {".ver", "CN.1.0.1"}}},
        /*sealed=*/true);
    MakePackage(
        site_ / "patch/p2.pkg",
        {"1|data/ui.pak|b.tga|0|00000000\r\n0||.ver|0|00000008\r\n", {{".ver", "CN.1.0.2"}}},
        /*sealed=*/false);
    WritePatchInfo("CN.1.0.2", PatchSection("patch_1", "CN.1.0.0", "CN.1.0.1", "p1.jzq") +
                                   PatchSection("patch_2", "CN.1.0.1", "CN.1.0.2", "p2.pkg"));

    EXPECT_EQ(Run(), kResultUpToDate);
    EXPECT_TRUE(recorder_.Texts(WM_LAUNCH_ERROR).empty()) << recorder_.Texts(WM_LAUNCH_ERROR)[0];
    EXPECT_EQ(ReadFile(".ver"), "CN.1.0.2");
    EXPECT_EQ(ReadFile("readme.txt"), "hello");
    EXPECT_EQ(PackEntry("data/ui.pak", "a.tga"), "new a v2");
    EXPECT_EQ(PackEntry("data/ui.pak", "b.tga"), "(no entry)");
    // The server list is stored scrambled for the game.
    std::string list = ReadFile("download/server.lst");
    ScrambleBuffer(list.data(), list.size());
    EXPECT_EQ(list, ReadFile(site_ / "server.lst"));
    // Two WM_LAUNCH_DONE: the server-list step's own while running, then the verdict.
    std::vector<int> doneResults;
    for (const Recorded& r : recorder_.messages)
        if (r.message == WM_LAUNCH_DONE) doneResults.push_back(r.result);
    EXPECT_EQ(doneResults, (std::vector<int>{kResultRunning, kResultUpToDate}));
    EXPECT_TRUE(recorder_.HasStatus(GetMessageText(32)));
    EXPECT_EQ(recorder_.Texts(WM_LAUNCH_TOTAL_PROGRESS).back(), "100");
}

TEST_F(LaunchWorkerTest, CachedPackagesAreReusedAndDamagedOnesFetchedAgain) {
    MakePackage(site_ / "patch/p1.jzq", {"0||note.txt|0|00000002\r\n", {{"note.txt", "v1"}}}, true);
    fs::create_directories("download");
    // A sound package in the cache that no server has any more is used as it is.
    MakePackage("download/p0.jzq", {"0||cached.txt|0|00000002\r\n", {{"cached.txt", "ok"}}}, true);
    // A damaged one is deleted and fetched again.
    WriteFile("download/p1.jzq", "JZQ1 truncated and damaged");
    WritePatchInfo("CN.1.0.2", PatchSection("patch_0", "CN.1.0.0", "CN.1.0.1", "p0.jzq") +
                                   PatchSection("patch_1", "CN.1.0.1", "CN.1.0.2", "p1.jzq"));
    EXPECT_EQ(Run(), kResultUpToDate);
    EXPECT_EQ(ReadFile("cached.txt"), "ok");
    EXPECT_EQ(ReadFile("note.txt"), "v1");
}

TEST_F(LaunchWorkerTest, EmptyChainStillFetchesTheServerList) {
    WritePatchInfo("CN.1.0.0", "");
    EXPECT_EQ(Run(), kResultUpToDate);
    EXPECT_TRUE(fs::exists("download/server.lst"));
    EXPECT_EQ(ReadFile(".ver"), "CN.1.0.0|first release\r\n");
}

TEST_F(LaunchWorkerTest, SelfUpdateReplacesTheInstalledLauncher) {
    WriteFile("quillgate.exe", "old launcher");
    AXP::ZipWriter zip;
    ASSERT_TRUE(zip.Create(site_ / "quillgate.zip"));
    ASSERT_TRUE(zip.Add("QuillGate.EXE", "new launcher", 12, true));
    ASSERT_TRUE(zip.Finish());
    WritePatchInfo("CN.1.0.0", "", "KR.1.0");  // another tag also replaces the launcher
    EXPECT_EQ(Run(), kResultLauncherReplaced);
    EXPECT_EQ(ReadFile("quillgate.exe"), "new launcher");
    EXPECT_EQ(recorder_.Count(WM_LAUNCH_DONE), 1);
    EXPECT_TRUE(recorder_.HasStatus(GetMessageText(53)));
    EXPECT_NE(fs::status("quillgate.exe").permissions() & fs::perms::owner_exec, fs::perms::none);
}

TEST_F(LaunchWorkerTest, SelfUpdateFailuresLetTheUpdateGoOn) {
    WriteFile("quillgate.exe", "old launcher");
    WritePatchInfo("CN.1.0.0", "", "CN.9.5");
    // No archive on any server: a status line only.
    EXPECT_EQ(Run(), kResultUpToDate);
    EXPECT_TRUE(recorder_.HasStatus(GetMessageText(60)));

    // An archive without the launcher: message 19, and the update still completes.
    recorder_.messages.clear();
    AXP::ZipWriter zip;
    ASSERT_TRUE(zip.Create(site_ / "quillgate.zip"));
    ASSERT_TRUE(zip.Add("readme.txt", "x", 1, false));
    ASSERT_TRUE(zip.Finish());
    EXPECT_EQ(Run(), kResultUpToDate);
    char expected[512];
    std::snprintf(expected, sizeof(expected), GetMessageText(19), "newquillgate.zip", "");
    EXPECT_EQ(recorder_.Texts(WM_LAUNCH_ERROR), std::vector<std::string>{expected});
    EXPECT_EQ(ReadFile("quillgate.exe"), "old launcher");
}

TEST_F(LaunchWorkerTest, FailuresShowTheirMessageAndResult) {
    struct Case {
        const char* name;
        std::function<void(LaunchWorkerTest&)> arrange;
        uint32_t message;  // message-table index of the error; 0 for a fixed text
        int result;
    } cases[] = {
        {"verinfo missing on every server",
         [](LaunchWorkerTest& t) { fs::remove(t.site_ / "patchinfo.txt"); }, 2, kResultFailed},
        {"patchinfo without latest",
         [](LaunchWorkerTest& t) {
             WriteFile(t.site_ / "patchinfo.txt", "[latest]\r\nquillgate=CN.9\r\n");
         },
         7, kResultFailed},
        {"installed version of another tag",
         [](LaunchWorkerTest&) { WriteFile(".ver", "KR.1.0.0"); }, 8, kResultFailed},
        {"no way forward", [](LaunchWorkerTest& t) { t.WritePatchInfo("CN.1.0.5", ""); }, 8,
         kResultFailed},
        {"no .ver", [](LaunchWorkerTest&) { fs::remove(".ver"); }, 5, kResultFailed},
        {"patch on no server",
         [](LaunchWorkerTest& t) {
             t.WritePatchInfo("CN.1.0.1",
                              t.PatchSection("patch_1", "CN.1.0.0", "CN.1.0.1", "p1.jzq"));
         },
         12, kResultFailed},
        {"patch url without a file name",
         [](LaunchWorkerTest& t) {
             t.WritePatchInfo("CN.1.0.1", "[patch_1]\r\nfrom=CN.1.0.0\r\nto=CN.1.0.1\r\nurl=" +
                                              t.primary_.Url("/") + "\r\n");
         },
         11, kResultFailed},
        {"no server list", [](LaunchWorkerTest& t) { fs::remove(t.site_ / "server.lst"); }, 48,
         kResultFailed},
        {"no serverlist key",
         [](LaunchWorkerTest& t) {
             WriteFile("quillgate.cfg",
                       "[quillgate]\r\nverinfo=" + t.primary_.Url("/patchinfo.txt") + "\r\n");
         },
         48, kResultFailed},
        {"apply fails",
         [](LaunchWorkerTest& t) {
             MakePackage(t.site_ / "patch/bad.jzq",
                         {"0|absent.pak|x.txt|0|00000001\r\n", {{"x.txt", "x"}}}, true);
             t.WritePatchInfo("CN.1.0.1",
                              t.PatchSection("patch_1", "CN.1.0.0", "CN.1.0.1", "bad.jzq"));
         },
         25, kResultApplyFailed},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        recorder_.messages.clear();
        WriteFile(".ver", "CN.1.0.0");
        WriteConfig("");
        WritePatchInfo("CN.1.0.0", "");
        WriteFile(site_ / "server.lst", "SERVER_BEGIN\r\n");
        c.arrange(*this);
        EXPECT_EQ(Run(), c.result);
        const std::vector<std::string> errors = recorder_.Texts(WM_LAUNCH_ERROR);
        ASSERT_EQ(errors.size(), 1u);
        const std::string format = GetMessageText(c.message);
        EXPECT_EQ(errors[0].substr(0, format.find('%')), format.substr(0, format.find('%')));
        EXPECT_EQ(recorder_.Count(WM_LAUNCH_DONE), 0);
        EXPECT_EQ(recorder_.Count(WM_LAUNCH_MANUAL_DOWNLOAD), c.message == 12 ? 1 : 0);
    }
}

TEST_F(LaunchWorkerTest, DiskSpaceGameCheckAndConfiguration) {
    WritePatchInfo("CN.1.0.1", PatchSection("patch_1", "CN.1.0.0", "CN.1.0.1", "p1.jzq"));
    MakePackage(site_ / "patch/p1.jzq", {"0||x.txt|0|00000001\r\n", {{"x.txt", "x"}}}, true);

    CLaunchWorker::Hooks exactly100MiB;
    exactly100MiB.freeDiskBytes = [] { return std::optional<uint64_t>(kRequiredFreeBytes); };
    EXPECT_EQ(Run(exactly100MiB), kResultNoDiskSpace);
    EXPECT_EQ(recorder_.Texts(WM_LAUNCH_ERROR), std::vector<std::string>{GetMessageText(46)});

    recorder_.messages.clear();
    CLaunchWorker::Hooks gameRuns;
    gameRuns.checkGameRunning = [] { return true; };  // the user cancels
    EXPECT_EQ(Run(gameRuns), kResultApplyFailed);
    EXPECT_EQ(recorder_.Texts(WM_LAUNCH_ERROR), std::vector<std::string>{GetMessageText(54)});
    EXPECT_FALSE(fs::exists("x.txt"));

    recorder_.messages.clear();
    fs::remove("quillgate.cfg");
    EXPECT_EQ(Run(), kResultNotStarted);
    EXPECT_EQ(recorder_.Texts(WM_LAUNCH_ERROR), std::vector<std::string>{GetMessageText(79)});
}

}  // namespace
