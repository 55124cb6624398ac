#include "app/game_start.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "app/rundll_entry.h"
#include "app/sdo_module.h"
#include "platform/messages.h"
#include "platform/process.h"
#include "platform/profile.h"
#include "platform/registry.h"
#include "testing/temp_dir.h"
#include "update/launch_messages.h"
#include "update/launcher_config.h"

namespace {

using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

constexpr const char* kWindowClass = "QG_GAME_START_TEST_DIALOG";
constexpr uintptr_t kGuardTimer = 1;
constexpr uint32_t kNativeWindowId = 0x00C0FFEE;

// Polls until `path` holds a line that starts with `prefix` (the game and the helpers
// run on their own); what the file holds at the end.
std::string WaitForLine(const std::string& path, const std::string& prefix) {
    for (int i = 0; i < 1000; ++i) {
        const std::string text = ReadFile(path);
        if (text.starts_with(prefix) || text.find("\n" + prefix) != std::string::npos) return text;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return ReadFile(path);
}

size_t CountLines(const std::string& text, const std::string& line) {
    size_t count = 0;
    for (size_t at = 0; (at = text.find(line + "\n", at)) != std::string::npos; at += line.size()) {
        if (at == 0 || text[at - 1] == '\n') ++count;
    }
    return count;
}

void SetVariable(const char* name, const std::string& value) { setenv(name, value.c_str(), 1); }

// The client folder, the user's registry, the "dialog" (a message window of this thread
// whose procedure hands the SDO messages to the starter) and the doubles: "bvConfig.exe"
// and the game append to "run.log".
class GameStartTest : public ::testing::Test {
  protected:
    void SetUp() override {
        SetVariable("QG_REGISTRY_HKCU", dir_ / "registry/hkcu");
        for (const char* name : {"SDO_SESSION_ID", "SDO_SND_AID", "SDO_ADDTIONAL_INFO"}) {
            unsetenv(name);
        }
        std::filesystem::create_directories("Bin");
        WriteScript(
            "Bin/game",
            "echo \"game $*|$SDO_SESSION_ID|$SDO_SND_AID|$SDO_ADDTIONAL_INFO\" >> ../run.log");
        WriteScript("bvConfig.exe", "echo config >> run.log");
        config_.gameExe = "bin\\game";
        config_.stylePath = "style.cfg";

        platform::RegisterWindowClass(kWindowClass, &DialogProc);
        window_ = platform::CreateMessageWindow(kWindowClass);
        platform::SetWindowUserData(window_, reinterpret_cast<intptr_t>(this));
    }
    void TearDown() override {
        starter_.reset();
        platform::DestroyMessageWindow(window_);
        unsetenv("QG_REGISTRY_HKCU");
    }

    static void WriteScript(const std::string& path, const std::string& body) {
        WriteFile(path, "#!/bin/sh\n" + body + "\n");
        chmod(path.c_str(), 0755);
    }

    GameStarter& Starter(const std::string& edition = "") {
        GameStartHost host;
        host.messageWindow = window_;
        host.nativeWindowId = kNativeWindowId;
        host.showErrorBox = [this](const std::string& text) { errors_.push_back(text); };
        host.closeDialog = [this] { ++closes_; };
        starter_ = std::make_unique<GameStarter>(std::move(host), config_, edition);
        return *starter_;
    }

    // Runs the dialog's message loop until `message` has been handled (or a guard timer
    // gives up: a hang fails the test instead of blocking it).
    void PumpUntilHandled(uint32_t message) {
        awaited_ = message;
        handled_ = false;
        platform::SetTimer(window_, kGuardTimer, 10000);
        platform::Message m;
        while (!handled_ && platform::GetMessage(m)) platform::DispatchMessage(m);
        platform::KillTimer(window_, kGuardTimer);
        EXPECT_TRUE(handled_) << "message " << std::hex << message << " never came";
        platform::Message left;
        while (platform::PeekMessage(left, true)) {
        }
    }

    static intptr_t DialogProc(platform::WindowHandle window, uint32_t message, uintptr_t wParam,
                               intptr_t lParam) {
        auto* self = reinterpret_cast<GameStartTest*>(platform::GetWindowUserData(window));
        if (self == nullptr) return 0;
        switch (message) {
            case WM_SDO_LOGIN_OK:
                self->starter_->OnSdoLoginOk();
                break;
            case WM_SDO_LOGIN_CANCEL:
                self->starter_->OnSdoLoginCancel();
                break;
            case platform::WM_ACTIVATEAPP:
                self->activations_.push_back(wParam);
                break;
            case platform::WM_TIMER:
                if (wParam == kGuardTimer) platform::PostQuitMessage(0);
                return 0;
            default:
                return platform::DefWindowProc(window, message, wParam, lParam);
        }
        if (message == self->awaited_) self->handled_ = true;
        return 0;
    }

    TempDir dir_{"qg_game_start"};
    testing_support::ScopedCurrentDir cwd_{dir_.path()};
    LauncherConfig config_;
    platform::WindowHandle window_ = platform::kNoWindow;
    std::unique_ptr<GameStarter> starter_;
    std::vector<std::string> errors_;
    std::vector<uintptr_t> activations_;
    int closes_ = 0;
    uint32_t awaited_ = 0;
    bool handled_ = false;
};

TEST_F(GameStartTest, ConfigurationToolRunsBeforeTheFirstGameOnly) {
    platform::RegistryStore userStore(
        platform::RegistryFilePath(platform::RegistryHive::CurrentUser));
    struct Case {
        const char* what;
        std::function<void()> before;
        bool toolRuns;
    };
    const std::vector<Case> cases = {
        {"first start", [] {}, true},
        {"later start", [] {}, false},
        {"mark deleted", [&] { userStore.Delete("Software\\velko\\firstrun", "Runed"); }, true},
        {"mark of DWORD type",
         [&] { userStore.WriteDword("Software\\velko\\firstrun", "Runed", 1); }, true},
        {"mark other case",
         [&] { userStore.WriteString("SOFTWARE\\Velko\\FirstRun", "runed", "x"); }, false},
        {"store damaged", [&] { WriteFile(userStore.filePath(), "garbage"); }, true},
    };
    for (const Case& c : cases) {
        std::filesystem::remove("run.log");
        c.before();
        const int closesBefore = closes_;
        Starter().StartGame();
        const std::string log = WaitForLine("run.log", "game ");
        EXPECT_EQ(log.starts_with("config\ngame -run|"), c.toolRuns) << c.what << ": " << log;
        EXPECT_EQ(log.starts_with("game -run|"), !c.toolRuns) << c.what << ": " << log;
        EXPECT_EQ(closes_, closesBefore + 1) << c.what;
        const auto mark = userStore.Read("Software\\velko\\firstrun", "Runed");
        ASSERT_TRUE(mark) << c.what;
        EXPECT_EQ(mark->type, platform::RegistryType::String) << c.what;
    }
}

TEST_F(GameStartTest, MissingToolStillMarksTheFirstRunAndQuickStyleReachesTheGame) {
    std::filesystem::remove("bvConfig.exe");
    config_.quickStyle = true;
    Starter().StartGame();
    EXPECT_EQ(WaitForLine("run.log", "game "), "game -run -qstyle|||\n");
    EXPECT_EQ(platform::GetProfileString("Style", "qstyle", "", "style.cfg"), "1");
    EXPECT_EQ(platform::RegistryStore(platform::RegistryHive::CurrentUser)
                  .Read("Software\\velko\\firstrun", "Runed")
                  ->text,
              "1");
    EXPECT_EQ(closes_, 1);
}

TEST_F(GameStartTest, ProcessCheckRunsWithTheWindowIdAndIsWaitedFor) {
    std::filesystem::copy_file(QG_FMPROXY_DOUBLE, "fmproxy.dll");
    std::filesystem::remove("bvConfig.exe");
    Starter().StartGame();
    // The check takes its time before it writes; only a launcher that waited for it sees
    // its line before the game's.
    EXPECT_EQ(WaitForLine("run.log", "game "), "CheckProcessEntry 00C0FFEE\ngame -run|||\n");

    // The settings entry is not waited for: it only writes once released.
    std::filesystem::remove("run.log");
    Starter().OpenProxySettings();
    EXPECT_FALSE(std::filesystem::exists("run.log"));
    WriteFile("release", "");
    EXPECT_EQ(WaitForLine("run.log", "SettingProcessEntry"), "SettingProcessEntry 00C0FFEE\n");
}

TEST(QgRundll, RunsTheNamedEntryAndTellsWhatItCouldNotRun) {
    TempDir dir("qg_rundll");
    testing_support::ScopedCurrentDir cwd(dir.path());
    std::filesystem::copy_file(QG_FMPROXY_DOUBLE, "fmproxy.dll");
    struct Case {
        std::vector<std::string> args;
        int exitCode;
    };
    const std::vector<Case> cases = {
        {{}, 1},
        {{"fmproxy.dll"}, 1},
        {{"fmproxy.dll,"}, 1},
        {{",CheckProcessEntry"}, 1},
        {{"missing.dll,CheckProcessEntry", "00000001"}, 2},
        {{"fmproxy.dll,NoSuchEntry", "00000001"}, 3},
        {{"FMPROXY.DLL,CheckProcessEntry", "0000ABCD"}, 0},  // client names fold case
    };
    for (const Case& c : cases) {
        uint32_t id = 0;
        ASSERT_TRUE(platform::StartProcess(RundllProgramPath(), c.args, "", &id));
        EXPECT_EQ(platform::WaitForProcess(id), c.exitCode) << ::testing::PrintToString(c.args);
    }
    EXPECT_EQ(ReadFile("run.log"), "CheckProcessEntry 0000ABCD\n");
}

class SdoGameStartTest : public GameStartTest {
  protected:
    void SetUp() override {
        GameStartTest::SetUp();
        std::filesystem::create_directories("SDO");
        std::filesystem::copy_file(QG_SDO_DOUBLE, "SDO/sdologinentry.dll");
        // The first-run tool is not the subject here.
        platform::RegistryStore(platform::RegistryHive::CurrentUser)
            .WriteString("Software\\velko\\firstrun", "Runed", "1");
    }
    static void SetMode(const std::string& mode) { WriteFile("SDO/mode", mode); }
    static std::string Calls() { return ReadFile("SDO/calls.log"); }
};

TEST_F(SdoGameStartTest, CancelledLoginShowsAgainWithoutReloadingThenTheLoginStartsTheGame) {
    GameStarter& starter = Starter("sdo");
    SetMode("cancel");
    starter.StartGame();
    PumpUntilHandled(WM_SDO_LOGIN_CANCEL);
    EXPECT_EQ(Calls(), "load\ninit " + std::to_string(sizeof(SDOLAppInfo)) +
                           " 200071400 0.1.2.0 1 1 1\nget-module\nattach C0FFEE\nshow\n"
                           "callback -101 -> 0\nhide\n");
    EXPECT_EQ(activations_, std::vector<uintptr_t>{0});
    EXPECT_FALSE(std::filesystem::exists("run.log"));

    SetMode("login");
    starter.StartGame();
    PumpUntilHandled(WM_SDO_LOGIN_OK);
    const std::string calls = Calls();
    EXPECT_EQ(CountLines(calls, "load"), 1u) << calls;
    EXPECT_EQ(CountLines(calls, "show"), 2u) << calls;
    EXPECT_NE(calls.find("callback 0 -> 1\n"), std::string::npos) << calls;
    EXPECT_TRUE(calls.ends_with("release\nterminal\n")) << calls;
    EXPECT_EQ(closes_, 1);
    // The login reaches the game's environment as GBK ("中" is D6 D0).
    EXPECT_EQ(WaitForLine("run.log", "game "), "game -run|session-42|aid-7|extra \xD6\xD0\n");

    // A second notice of the same login starts no second game.
    starter.OnSdoLoginOk();
    EXPECT_EQ(closes_, 1);
}

TEST_F(SdoGameStartTest, AnswerThatIsNoLoginKeepsTheLoginWindow) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"other", "callback 7 -> 0\n"},
        {"no-strings", "callback 0 -> 0\n"},  // a login without its strings is not taken
    };
    for (const auto& [mode, answer] : cases) {
        std::filesystem::remove("SDO/calls.log");
        GameStarter& starter = Starter("sdo");
        SetMode(mode);
        starter.StartGame();
        const std::string calls = WaitForLine("SDO/calls.log", "callback");
        EXPECT_TRUE(calls.ends_with(answer)) << mode << ": " << calls;
        starter.StartGame();  // the window is still up: nothing happens
        EXPECT_EQ(CountLines(Calls(), "show"), 1u) << mode;
        EXPECT_EQ(closes_, 0) << mode;
        EXPECT_FALSE(std::filesystem::exists("run.log")) << mode;
    }
}

TEST_F(SdoGameStartTest, ModuleThatCannotStartIsReportedAndNothingStarts) {
    struct Case {
        const char* what;
        std::function<void()> prepare;
    };
    const std::vector<Case> cases = {
        {"no module", [] { std::filesystem::remove("SDO/sdologinentry.dll"); }},
        {"an entry point missing",
         [] {
             // A new file, never one rewritten in place: the old one may still be mapped.
             std::filesystem::remove("SDO/sdologinentry.dll");
             std::filesystem::copy_file(QG_SDO_DOUBLE_WITHOUT_TERMINAL, "SDO/sdologinentry.dll");
         }},
        {"initialisation fails", [] { SetMode("init-fails"); }},
        {"no login interface", [] { SetMode("module-fails"); }},
    };
    for (const Case& c : cases) {
        errors_.clear();
        c.prepare();
        Starter("sdo").StartGame();
        EXPECT_EQ(errors_, std::vector<std::string>{"Open SDO IGW System Failed!"}) << c.what;
        EXPECT_EQ(closes_, 0) << c.what;
        EXPECT_TRUE(activations_.empty()) << c.what;
        EXPECT_FALSE(std::filesystem::exists("run.log")) << c.what;
        std::filesystem::remove("SDO/sdologinentry.dll");
        std::filesystem::copy_file(QG_SDO_DOUBLE, "SDO/sdologinentry.dll");
        SetMode("");
    }
    // A module that did initialise is ended again when it fails later.
    EXPECT_NE(Calls().find("get-module\nterminal\n"), std::string::npos) << Calls();
}

}  // namespace
