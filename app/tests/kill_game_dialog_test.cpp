// The kill dialog under a display, against a process table of the test's own.
#include "app/kill_game_dialog.h"

#include <gtest/gtest.h>

#include "app/tests/fake_proc.h"
#include "testing/temp_dir.h"
#include "testing/ui_test_support.h"

namespace {

namespace fs = std::filesystem;

class KillGameDialogTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ui_test::RequireDisplay();
        fake_proc::Add(proc_, {300, game_, {game_}, {}});
        access_.procRoot = proc_.string();
        access_.pause = [](uint32_t) {};
        access_.terminate = [this](uint32_t id) {
            terminated_.push_back(id);
            if (gameDiesOnSignal_) fs::remove_all(proc_ / "300");
            return true;
        };
    }
    void GameEnds() { fs::remove_all(proc_ / "300"); }

    testing_support::TempDir dir_{"qg_kill_dialog"};
    fs::path proc_ = dir_.path() / "proc";
    std::string game_ = (dir_.path() / "client/qadr.exe").string();
    ProcessAccess access_;
    std::vector<uint32_t> terminated_;
    bool gameDiesOnSignal_ = true;
};

TEST_F(KillGameDialogTest, NoRunningGameShowsNothing) {
    GameEnds();
    EXPECT_FALSE(CheckGameRunning(nullptr, nullptr, game_, access_));
}

TEST_F(KillGameDialogTest, ForceCloseEndsTheGameAndLetsTheUpdateGoOn) {
    CKillGameDlg dialog(nullptr, nullptr, game_, access_);
    platform::ui::Timer press;
    press.Start(10, [&] {
        press.Stop();
        dialog.forceClose().onClick();
    });
    EXPECT_EQ(dialog.RunModal(), CKillGameDlg::kOk);
    EXPECT_EQ(terminated_, std::vector<uint32_t>{300});
}

// A game that outlives the force close keeps the dialog up, polling as after OK, until it
// has gone: the update never writes files that a running game holds.
TEST_F(KillGameDialogTest, AGameThatOutlivesForceCloseKeepsTheDialogUntilItHasGone) {
    gameDiesOnSignal_ = false;
    CKillGameDlg dialog(nullptr, nullptr, game_, access_);
    int step = 0;
    bool stillUpAfterForceClose = false, buttonsOffWhilePolling = false;
    platform::ui::Timer driver;
    driver.Start(10, [&] {
        if (step == 0) {
            dialog.forceClose().onClick();
            stillUpAfterForceClose = dialog.dialog().running();
            buttonsOffWhilePolling = !dialog.ok().enabled() && !dialog.forceClose().enabled();
            GameEnds();  // the next look finds it gone
            driver.Stop();
        }
        ++step;
    });
    EXPECT_EQ(dialog.RunModal(), CKillGameDlg::kOk);
    EXPECT_TRUE(stillUpAfterForceClose);
    EXPECT_TRUE(buttonsOffWhilePolling);
    EXPECT_EQ(terminated_, std::vector<uint32_t>{300});
}

TEST_F(KillGameDialogTest, OkWhileTheGameRunsEnablesTheButtonsAgainAndStays) {
    CKillGameDlg dialog(nullptr, nullptr, game_, access_);
    bool pressed = false, reenabled = false;
    platform::ui::Timer driver;
    driver.Start(10, [&] {
        if (!pressed) {
            pressed = true;
            dialog.ok().onClick();
            EXPECT_FALSE(dialog.ok().enabled());
        } else if (dialog.ok().enabled() && dialog.forceClose().enabled()) {
            reenabled = true;  // the poll found the game: back to waiting
            driver.Stop();
            GameEnds();
            dialog.ok().onClick();
        }
    });
    EXPECT_EQ(dialog.RunModal(), CKillGameDlg::kOk);
    EXPECT_TRUE(reenabled);
    EXPECT_TRUE(terminated_.empty());
}

}  // namespace
