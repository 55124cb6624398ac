#include "app/game_processes.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <filesystem>

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

}  // namespace
