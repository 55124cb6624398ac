#include "app/game_processes.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "app/game_check_terminal.h"
#include "app/tests/fake_proc.h"
#include "testing/temp_dir.h"

namespace {

TEST(IsSameImage, PathsCaseAndWine) {
    const std::string game = "/games/client/bin/qadr.exe";
    struct Case {
        platform::ProcessEntry process;
        bool same;
    } cases[] = {
        {{1, "/games/client/bin/qadr.exe", "", ""}, true},
        {{2, "/GAMES/Client/BIN/QADR.EXE", "", ""}, true},
        {{3, "/other/place/qadr.exe", "", ""}, false},  // same name, other folder
        {{4, "/usr/bin/wine64-preloader", "Z:\\games\\client\\bin\\qadr.exe -run",
          "Z:\\games\\client\\bin\\qadr.exe"},
         true},
        {{5, "/usr/bin/wine64-preloader", "Z:\\other\\qadr.exe", "Z:\\other\\qadr.exe"}, false},
        {{6, "", "", ""}, false},  // unreadable process
        {{7, "/usr/bin/vim", "vim /games/client/bin/qadr.exe", "vim"}, false},
    };
    for (const Case& c : cases) EXPECT_EQ(IsSameImage(c.process, game), c.same) << c.process.id;
    EXPECT_FALSE(IsSameImage({8, "/x", "", ""}, ""));
}

TEST(GameProcesses, FindsAndEndsEveryRunningCopy) {
    testing_support::TempDir dir("qg_game");
    // Two copies of a "game": a copy of sleep under the game's name.
    const std::string game = dir / "Game.Exe";
    std::filesystem::copy_file("/bin/sleep", game);
    uint32_t ids[2];
    for (uint32_t& id : ids) ASSERT_TRUE(platform::StartProcess(game, {"30"}, "", &id));
    std::vector<uint32_t> found = FindGameProcesses(dir / "game.exe");
    for (uint32_t id : ids) EXPECT_NE(std::find(found.begin(), found.end(), id), found.end());

    EXPECT_EQ(TerminateGameProcesses(dir / "GAME.EXE"), 2);
    for (uint32_t id : ids) {
        int status = 0;
        ASSERT_EQ(waitpid(static_cast<pid_t>(id), &status, 0), static_cast<pid_t>(id));
        EXPECT_TRUE(WIFSIGNALED(status));
    }
    EXPECT_TRUE(FindGameProcesses(dir / "game.exe").empty());
}

TEST(GameImagePath, JoinsTheClientDirectory) {
    testing_support::TempDir dir("qg_game_path");
    testing_support::ScopedCurrentDir cwd(dir.path());
    std::filesystem::create_directories("Bin");
    EXPECT_EQ(GameImagePath("bin\\qadr.exe"), (dir.path() / "Bin/qadr.exe").string());
}

// A game run through Wine from a drive that its prefix maps: D: by an absolute link,
// C: by the usual relative one, E: in the default prefix of the process's HOME.
TEST(IsSameImage, WineDrivesResolvedThroughTheProcessPrefix) {
    namespace fs = std::filesystem;
    testing_support::TempDir dir("qg_wine");
    const fs::path root = dir.path();
    const fs::path prefix = root / "prefix";
    const fs::path home = root / "home";
    fs::create_directories(root / "disk/Client/Bin");
    fs::create_directories(prefix / "dosdevices");
    fs::create_directories(prefix / "drive_c/Games");
    fs::create_directories(home / ".wine/dosdevices");
    fs::create_directory_symlink(root / "disk", prefix / "dosdevices/d:");
    fs::create_directory_symlink("../drive_c", prefix / "dosdevices/c:");
    fs::create_directory_symlink(root / "disk", home / ".wine/dosdevices/e:");

    const std::string onDisk = (root / "disk/Client/Bin/qadr.exe").string();
    const std::string onC = (prefix / "drive_c/Games/qadr.exe").string();
    const std::string wine = "/usr/bin/wine64-preloader";
    const std::string inPrefix = "WINEPREFIX=" + prefix.string();
    std::string zPath = "Z:" + onDisk;
    for (char& c : zPath) c = c == '/' ? '\\' : c;
    struct Case {
        std::vector<std::string> environment;
        std::string argv0;
        std::string game;
        bool same;
    } cases[] = {
        {{inPrefix}, "D:\\Client\\Bin\\qadr.exe", onDisk, true},
        {{inPrefix}, "d:\\client\\bin\\QADR.EXE", onDisk, true},
        {{"HOME=" + home.string()}, "E:\\Client\\Bin\\qadr.exe", onDisk, true},
        {{inPrefix}, "C:\\Games\\qadr.exe", onC, true},
        {{inPrefix}, "C:\\Client\\Bin\\qadr.exe", onDisk, false},  // C: is another folder
        {{inPrefix}, "F:\\Client\\Bin\\qadr.exe", onDisk, false},  // no such drive
        {{inPrefix}, zPath, onDisk, true},                         // Z: without a link: "/"
        {{"HOME=" + home.string()}, "D:\\Client\\Bin\\qadr.exe", onDisk, false},  // not its D:
    };
    uint32_t id = 100;
    for (const Case& c : cases) {
        const fs::path proc = root / ("proc" + std::to_string(id));
        fake_proc::Add(proc, {id, wine, {c.argv0, "-run"}, c.environment});
        ProcessAccess access;
        access.procRoot = proc.string();
        const std::vector<uint32_t> found = FindGameProcesses(c.game, access);
        EXPECT_EQ(found.size(), c.same ? 1u : 0u) << c.argv0 << " " << c.environment[0];
        ++id;
    }
}

// Force close signals the game and then makes sure it has gone: a game that takes a while
// to go is waited for, first briefly, then for as long as it is still there.
TEST(ForceClose, ReturnsOnlyOnceTheGameHasGone) {
    namespace fs = std::filesystem;
    testing_support::TempDir dir("qg_force_close");
    const std::string game = (dir.path() / "client/qadr.exe").string();
    for (int pausesToDie : {0, 3, 200}) {
        const fs::path proc = dir.path() / ("proc" + std::to_string(pausesToDie));
        fake_proc::Add(proc, {300, game, {game}, {}});
        fake_proc::Add(proc, {301, "/usr/bin/other", {"other"}, {}});
        int remaining = pausesToDie;
        std::vector<uint32_t> terminated;
        ProcessAccess access;
        access.procRoot = proc.string();
        auto die = [&] { fs::remove_all(proc / "300"); };
        access.terminate = [&](uint32_t id) {
            terminated.push_back(id);
            if (remaining == 0) die();
            return true;
        };
        access.pause = [&](uint32_t) {
            if (!terminated.empty() && --remaining == 0) die();
        };
        const char answers[] = "f\n";
        FILE* in = fmemopen(const_cast<char*>(answers), sizeof(answers), "r");
        FILE* out = std::fopen("/dev/null", "w");
        EXPECT_FALSE(CheckGameRunningOnTerminal(game, in, out, true, 10, access));
        std::fclose(in);
        std::fclose(out);
        EXPECT_EQ(terminated, std::vector<uint32_t>{300}) << pausesToDie;
        EXPECT_FALSE(fs::exists(proc / "300")) << "returned while the game was still there";
        EXPECT_TRUE(fs::exists(proc / "301"));
    }
}

TEST(ForceClose, TellsWhenTheGameOutlivesTheBriefCheck) {
    namespace fs = std::filesystem;
    testing_support::TempDir dir("qg_force_close_stuck");
    const std::string game = (dir.path() / "client/qadr.exe").string();
    fake_proc::Add(dir.path() / "proc", {300, game, {game}, {}});
    uint32_t paused = 0;
    ProcessAccess access;
    access.procRoot = (dir.path() / "proc").string();
    access.terminate = [](uint32_t) { return true; };
    access.pause = [&](uint32_t ms) { paused += ms; };
    EXPECT_FALSE(ForceCloseGame(game, access));
    EXPECT_GE(paused, kForceCloseCheckMs);
    EXPECT_LE(paused, kForceCloseCheckMs + 100);
}

}  // namespace
