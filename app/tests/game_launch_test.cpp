#include "app/game_launch.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

#include "app/game_check_terminal.h"
#include "axp/error.h"
#include "axp/pack_file.h"
#include "platform/process.h"
#include "platform/profile.h"
#include "testing/temp_dir.h"
#include "update/client_work_gate.h"
#include "update/launcher_config.h"
#include "update/message_table.h"

namespace {

using testing_support::ReadFile;
using testing_support::WriteFile;

std::string WaitForFile(const std::string& path) {
    for (int i = 0; i < 500 && ReadFile(path).empty(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return ReadFile(path);
}

class GameLaunchTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::filesystem::create_directories("Bin");
        std::filesystem::create_directories("resource");
        // The "game" records its arguments and folder.
        WriteFile("Bin/game", "#!/bin/sh\necho \"$*|$(pwd)\" > ../started.txt\n");
        chmod("Bin/game", 0755);
    }
    testing_support::TempDir dir_{"qg_game_launch"};
    testing_support::ScopedCurrentDir cwd_{dir_.path()};
};

TEST_F(GameLaunchTest, ClearsWriterFlagsStartsTheGameAndRecordsTheStyle) {
    {
        AXP::PackFile pack;
        ASSERT_TRUE(pack.Create("resource/Data.PAK"));
        ASSERT_TRUE(pack.AddFile("x", 1, "a.txt", true, true, 0, 0));
    }
    // An update killed while writing leaves the editing flag set.
    std::fstream f("resource/Data.PAK", std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(8);
    f.put(1);
    f.close();
    AXP::PackFile reader;
    EXPECT_FALSE(reader.Open("resource/data.pak", true));
    EXPECT_EQ(AXP::GetLastErrorCode(), AXP::kErrNotClosed);

    LauncherConfig config;
    config.gameExe = "bin\\game";
    config.stylePath = "style.cfg";
    config.quickStyle = true;
    ASSERT_TRUE(RunGame(config).started);
    const std::string realDir = std::filesystem::canonical(dir_.path()).string();
    EXPECT_EQ(WaitForFile("started.txt"), "-run -qstyle|" + realDir + "/Bin\n");
    EXPECT_EQ(platform::GetProfileString("Style", "qstyle", "", "style.cfg"), "1");
    EXPECT_TRUE(reader.Open("resource/data.pak", true));
}

TEST_F(GameLaunchTest, ClassicStyleAndGamesThatCannotStartSayWhy) {
    LauncherConfig config;
    config.gameExe = "Bin\\game";
    config.stylePath = "style.cfg";
    ASSERT_TRUE(RunGame(config).started);
    EXPECT_EQ(WaitForFile("started.txt").substr(0, 5), "-run|");
    EXPECT_EQ(platform::GetProfileString("Style", "qstyle", "", "style.cfg"), "0");

    WriteFile("Bin/plain", "#!/bin/sh\n");
    chmod("Bin/plain", 0644);
    WriteFile("Bin/win.exe", "MZ\x90\x00 a Windows program");
    chmod("Bin/win.exe", 0644);
    testing_support::TempDir noWine("qg_no_wine");  // a PATH without wine
    const std::string path = std::getenv("PATH") ? std::getenv("PATH") : "/usr/bin:/bin";
    struct Case {
        const char* gameExe;
        std::string why;
    } cases[] = {
        {"Bin\\missing", FormatMessage<MessageId::kGameMissing>(
                             (std::filesystem::canonical(dir_.path()) / "Bin/missing").string())},
        {"Bin\\plain", FormatMessage<MessageId::kGameNotExecutable>(
                           std::filesystem::canonical("Bin/plain").string())},
        {"Bin\\win.exe", FormatMessage<MessageId::kWineMissing>(
                             std::filesystem::canonical("Bin/win.exe").string())},
        {"Bin", ""},  // a folder: not a program
    };
    platform::SetEnvironmentVariable("PATH", noWine.path().string());
    for (const Case& c : cases) {
        std::filesystem::remove("style.cfg");
        config.gameExe = c.gameExe;
        const GameLaunch launch = RunGame(config);
        EXPECT_FALSE(launch.started) << c.gameExe;
        EXPECT_EQ(launch.whyNot.rfind(FormatMessage<MessageId::kGameStartFailed>(""), 0), 0u)
            << launch.whyNot;
        if (!c.why.empty()) {
            EXPECT_NE(launch.whyNot.find(c.why), std::string::npos) << launch.whyNot;
        }
        EXPECT_FALSE(std::filesystem::exists("style.cfg")) << c.gameExe;
    }
    platform::SetEnvironmentVariable("PATH", path);
}

// A client folder deep enough that the command line would pass its bound: refused with
// the reason, never cut (nor a crash).
TEST_F(GameLaunchTest, AnOverLongCommandLineIsRefused) {
    std::string deep = "Bin";
    while ((dir_ / deep).size() < 700) deep += "/" + std::string(60, 'd');
    std::filesystem::create_directories(deep);
    std::filesystem::copy_file("Bin/game", deep + "/game");
    LauncherConfig config;
    config.gameExe = deep + "/game";
    config.stylePath = "style.cfg";
    const GameLaunch launch = RunGame(config);
    EXPECT_FALSE(launch.started);
    EXPECT_NE(launch.whyNot.find(FormatMessage<MessageId::kGameCommandLineTooLong>(
                  static_cast<int>(kGameCommandLineMax))),
              std::string::npos)
        << launch.whyNot;
    EXPECT_FALSE(std::filesystem::exists("style.cfg"));
}

// While an update or a repair holds the client, the start neither touches the packs
// nor starts the game.
TEST_F(GameLaunchTest, TheStartIsRefusedWhileAWriterHoldsTheClient) {
    LauncherConfig config;
    config.gameExe = "Bin\\game";
    config.stylePath = "style.cfg";
    for (auto work : {ClientWorkGate::Work::Update, ClientWorkGate::Work::Repair}) {
        const ClientWorkGate::Pass writer = ClientWorkGate::OfProcess().Enter(work);
        ASSERT_TRUE(writer);
        const GameLaunch launch = RunGame(config);
        EXPECT_FALSE(launch.started);
        EXPECT_NE(launch.whyNot.find(GetMessageText(MessageId::kClientBusy)), std::string::npos);
    }
    EXPECT_FALSE(std::filesystem::exists("style.cfg"));
    EXPECT_FALSE(std::filesystem::exists("started.txt"));
}

TEST(GameCommandLine, BoundedFormats) {
    EXPECT_EQ(GameCommandLine("/c/qadr.exe", false), "/c/qadr.exe -run");
    EXPECT_EQ(GameCommandLine("/c/qadr.exe", true), "/c/qadr.exe -run -qstyle");
    EXPECT_EQ(GameCommandLine(std::string(506, 'x'), true).size(), 519u);
    EXPECT_EQ(GameCommandLine(std::string(507, 'x'), true), "") << "never cut";
    EXPECT_EQ(GameCommandLine(std::string(600, 'x'), false), "");
}

TEST(GameCheckTerminal, AnswersOnTheTerminal) {
    testing_support::TempDir dir("qg_game_check");
    const std::string game = dir / "game.bin";
    std::filesystem::copy_file("/bin/sleep", game);
    struct Case {
        const char* answers;
        bool interactive;
        bool cancelled;
        bool stillRunning;
    } cases[] = {
        {"c\ny\n", true, true, true},
        {"c\nn\nf\n", true, false, false},  // no to the confirmation, then force close
        {"", false, true, true},            // no terminal: cancel
        {"w\n", true, false, false},        // waits until the game has ended
    };
    for (const Case& c : cases) {
        uint32_t id = 0;
        ASSERT_TRUE(platform::StartProcess(game, {"30"}, "", &id));
        // When waited for, the "game" ends by itself a moment later.
        if (c.answers[0] == 'w') {
            std::thread([id] {
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
                platform::TerminateProcessById(id);
            }).detach();
        }
        FILE* in = fmemopen(const_cast<char*>(c.answers), std::strlen(c.answers) + 1, "r");
        FILE* out = std::fopen("/dev/null", "w");
        EXPECT_EQ(CheckGameRunningOnTerminal(game, in, out, c.interactive, 10), c.cancelled)
            << c.answers;
        std::fclose(in);
        std::fclose(out);
        if (c.stillRunning) platform::TerminateProcessById(id);
        EXPECT_EQ(platform::WaitForProcess(id), 128 + 9);
    }
    FILE* out = std::fopen("/dev/null", "w");
    EXPECT_FALSE(CheckGameRunningOnTerminal(game, stdin, out, true)) << "no game running";
    std::fclose(out);
}

}  // namespace
