// The main window against worker doubles on their own threads: closing it while a worker
// is sending, or while a repair runs, neither hangs nor crashes, and every handler runs
// on the window's thread while the sender waits.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "app/launch_dialog.h"
#include "app/launch_dialog_layout.h"
#include "platform/process.h"
#include "platform/ui/toolkit.h"
#include "testing/temp_dir.h"
#include "testing/ui_test_support.h"
#include "update/launch_messages.h"
#include "update/message_table.h"

namespace {

using namespace launch_dialog;

// A time-out only (20 s of 5 ms ticks): a window that never gets where a test leads it
// is closed, and the test fails on what it did not see.
constexpr int kGiveUpTicks = 4000;

// Reports without end until a send fails (the window is gone); optionally finishes with
// the client up to date first. Holds the client's gate as the update worker does.
class UpdateDouble : public UpdateWork {
  public:
    UpdateDouble(ClientWorkGate& gate, bool finishFirst, std::string repairUrl = "")
        : gate_(gate), finishFirst_(finishFirst) {
        config_.repairUrl = std::move(repairUrl);
        config_.stylePath = kStyleFileName;
    }
    ~UpdateDouble() override {
        if (thread_.joinable()) thread_.join();
    }
    bool Start(platform::WindowHandle window) override {
        pass_ = gate_.Enter(ClientWorkGate::Work::Update);
        if (!pass_) return false;
        thread_ = std::thread([this, window] {
            for (uint64_t n = 0; !finishFirst_; ++n) {
                if (finish_) break;
                const std::string text = "status " + std::to_string(n);
                auto answer = platform::SendMessage(window, WM_LAUNCH_STATUS,
                                                    reinterpret_cast<uintptr_t>(text.c_str()), 0);
                if (!answer || !platform::SendMessage(window, WM_LAUNCH_PROGRESS, n % 101, 0)) {
                    sendFailed_ = true;
                    pass_.Leave();
                    return;
                }
                sent_ = n + 1;
            }
            result_ = kResultUpToDate;
            pass_.MarkClientUpToDate();
            platform::SendMessage(window, WM_LAUNCH_DONE, 0, 0);
            pass_.Leave();
            platform::PostMessage(window, WM_APP_WORKER_ENDED, 0, 0);
        });
        return true;
    }
    int result() const override { return result_; }
    const LauncherConfig& config() const override { return config_; }
    void Join() { thread_.join(); }

    std::atomic<uint64_t> sent_{0};
    std::atomic<bool> sendFailed_{false};
    std::atomic<bool> finish_{false};  // report the client up to date next

  private:
    ClientWorkGate& gate_;
    ClientWorkGate::Pass pass_;
    bool finishFirst_;
    std::atomic<int> result_{kResultRunning};
    LauncherConfig config_;
    std::thread thread_;
};

// Sends a fixed list of value messages, then waits until the window is gone.
class ScriptedUpdate : public UpdateWork {
  public:
    explicit ScriptedUpdate(std::vector<std::pair<uint32_t, uintptr_t>> script)
        : script_(std::move(script)) {}
    ~ScriptedUpdate() override {
        if (thread_.joinable()) thread_.join();
    }
    bool Start(platform::WindowHandle window) override {
        thread_ = std::thread([this, window] {
            for (auto [message, value] : script_) platform::SendMessage(window, message, value, 0);
            done_ = true;
        });
        return true;
    }
    int result() const override { return kResultRunning; }
    const LauncherConfig& config() const override { return config_; }
    std::atomic<bool> done_{false};

  private:
    std::vector<std::pair<uint32_t, uintptr_t>> script_;
    LauncherConfig config_;
    std::thread thread_;
};

// Reports repair progress until asked to stop (then reports its end) or to fail (then
// reports an error); holds the client's gate as the repair worker does.
class RepairDouble : public RepairWork {
  public:
    explicit RepairDouble(ClientWorkGate& gate) : gate_(gate) {}
    ~RepairDouble() override {
        if (thread_.joinable()) thread_.join();
    }
    bool Start(platform::WindowHandle window) override {
        pass_ = gate_.Enter(ClientWorkGate::Work::Repair);
        if (!pass_) return false;
        started_ = true;
        thread_ = std::thread([this, window] {
            for (uintptr_t n = 0; !stop_ && !fail_; ++n) {
                const std::string text = "checking " + std::to_string(n);
                platform::SendMessage(window, WM_REPAIR_STATUS,
                                      reinterpret_cast<uintptr_t>(text.c_str()), 0);
                platform::SendMessage(window, WM_REPAIR_TOTAL_PROGRESS, n % 101, 0);
                sent_ = n + 1;
            }
            if (fail_) {
                platform::SendMessage(window, WM_REPAIR_ERROR,
                                      reinterpret_cast<uintptr_t>("repair failed"), 0);
            } else {
                platform::SendMessage(window, WM_REPAIR_DONE, 0, 0);
            }
            pass_.Leave();
            ended_ = true;
            platform::PostMessage(window, WM_APP_REPAIR_ENDED, 0, 0);
        });
        return true;
    }
    void RequestStop() override { stop_ = true; }
    bool Ended() const override { return ended_; }
    int repairedCount() const override { return 3; }

    std::atomic<uint64_t> sent_{0};
    std::atomic<bool> started_{false};
    std::atomic<bool> fail_{false};  // end with an error next

  private:
    ClientWorkGate& gate_;
    ClientWorkGate::Pass pass_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> ended_{false};
    std::thread thread_;
};

class LaunchDialogThreadTest : public ::testing::Test {
  protected:
    void SetUp() override { ui_test::RequireDisplay(); }

    CLaunchDlg::Options Options(UpdateWork* update, RepairWork* repair = nullptr) {
        CLaunchDlg::Options o;
        o.skin = platform::ui::Skin::Load("/nonexistent");  // the window works without pictures
        o.update = update;
        o.repair = repair;
        o.gate = &gate_;
        o.startInstallPing = false;
        return o;
    }

    // A game in the current folder that the start button can start ("style.cfg" tells).
    void PlaceGame() {
        platform::SetEnvironmentVariable("QG_REGISTRY_HKCU", dir_ / "registry");
        testing_support::WriteFile(dir_ / "qadr.exe", "#!/bin/sh\nexit 0\n");
        std::filesystem::permissions(dir_ / "qadr.exe", std::filesystem::perms::owner_all);
    }
    bool GameStarted() const { return std::filesystem::exists(dir_ / "style.cfg"); }

    ClientWorkGate gate_;
    testing_support::TempDir dir_{"qg_dialog_threads"};
    testing_support::ScopedCurrentDir cwd_{dir_.path().string()};
};

TEST_F(LaunchDialogThreadTest, ClosingWhileAWorkerSendsEndsTheWindowAndFailsTheSends) {
    UpdateDouble update(gate_, false);
    CLaunchDlg dialog(Options(&update));
    // Close from the window's own loop once the worker is well into its sends.
    platform::ui::Timer closer;
    closer.Start(5, [&] {
        if (update.sent_ >= 50) dialog.Command(kClose);
    });
    EXPECT_EQ(dialog.Run(), CLaunchDlg::Outcome::Closed);
    closer.Stop();
    update.Join();  // returns: the worker's send failed instead of waiting for ever
    EXPECT_TRUE(update.sendFailed_);
    EXPECT_EQ(dialog.model().status().rfind("status ", 0), 0u) << "texts were copied";
}

TEST_F(LaunchDialogThreadTest, ClosingDuringARepairWaitsForItsThreadWithCloseDisabled) {
    UpdateDouble update(gate_, true, "http://127.0.0.1:1/repair");
    RepairDouble repair(gate_);
    CLaunchDlg dialog(Options(&update, &repair));
    bool repairStarted = false, closeAsked = false, closeDisabledMeanwhile = false;
    platform::ui::Timer driver;
    driver.Start(5, [&] {
        if (!repairStarted && dialog.model().startEnabled()) {
            repairStarted = true;
            dialog.Command(kRepair);
        } else if (repairStarted && !closeAsked && repair.sent_ >= 20) {
            closeAsked = true;
            dialog.Command(kClose);
            closeDisabledMeanwhile = !dialog.button(kClose)->enabled() &&
                                     !dialog.button(kCancel)->enabled() && !repair.Ended();
        }
    });
    EXPECT_EQ(dialog.Run(), CLaunchDlg::Outcome::Closed);
    driver.Stop();
    EXPECT_TRUE(closeAsked);
    EXPECT_TRUE(closeDisabledMeanwhile);
    EXPECT_TRUE(repair.Ended()) << "the window closed only after the repair thread ended";
}

TEST_F(LaunchDialogThreadTest, AnEmptyRepairAddressKeepsRepairDisabled) {
    UpdateDouble update(gate_, true, "");
    RepairDouble repair(gate_);
    CLaunchDlg dialog(Options(&update, &repair));
    platform::ui::Timer driver;
    driver.Start(5, [&] {
        if (!dialog.model().startEnabled()) return;
        dialog.Command(kRepair);  // as a click that reached it anyway
        dialog.Command(kClose);
    });
    EXPECT_EQ(dialog.Run(), CLaunchDlg::Outcome::Closed);
    EXPECT_FALSE(dialog.button(kRepair)->enabled());
    EXPECT_EQ(repair.sent_, 0u) << "no repair ran";
}

// Enter is the start button's key, not a way round it: before the update has finished the
// packs may be half written, and the game must not start.
TEST_F(LaunchDialogThreadTest, EnterStartsTheGameOnlyOnceTheUpdateHasFinished) {
    PlaceGame();
    UpdateDouble update(gate_, false);
    CLaunchDlg dialog(Options(&update));
    bool pressedEarly = false, startedEarly = true;
    platform::ui::Timer driver;
    driver.Start(5, [&] {
        if (!pressedEarly && update.sent_ >= 5) {
            pressedEarly = true;
            dialog.PressEnter();
            startedEarly = GameStarted();
            update.finish_ = true;
        } else if (pressedEarly && dialog.model().startEnabled()) {
            driver.Stop();
            dialog.PressEnter();  // starts the game and closes the window
        }
    });
    EXPECT_EQ(dialog.Run(), CLaunchDlg::Outcome::Closed);
    EXPECT_TRUE(pressedEarly);
    EXPECT_FALSE(startedEarly);
    EXPECT_TRUE(GameStarted()) << "the game was started";
}

// While the update writes the packs a repair is not offered, and its command does
// nothing; once the update has ended well both start and repair are offered.
TEST_F(LaunchDialogThreadTest, RepairIsNotOfferedWhileTheUpdateRuns) {
    UpdateDouble update(gate_, false, "http://127.0.0.1:1/repair");
    RepairDouble repair(gate_);
    CLaunchDlg dialog(Options(&update, &repair));
    bool checkedMeanwhile = false, offeredMeanwhile = true, offeredAfter = false;
    int ticks = 0;
    platform::ui::Timer driver;
    driver.Start(5, [&] {
        if (++ticks > kGiveUpTicks) dialog.Command(kClose);  // fails below instead of hanging
        if (!checkedMeanwhile && update.sent_ >= 20) {
            checkedMeanwhile = true;
            offeredMeanwhile = dialog.button(kRepair)->enabled() || dialog.model().repairEnabled();
            dialog.Command(kRepair);  // as a click that reached it anyway
            update.finish_ = true;
        } else if (checkedMeanwhile && dialog.button(kStartGame)->enabled()) {
            offeredAfter = dialog.button(kRepair)->enabled();
            dialog.Command(kClose);
        }
    });
    EXPECT_EQ(dialog.Run(), CLaunchDlg::Outcome::Closed);
    driver.Stop();
    EXPECT_TRUE(checkedMeanwhile);
    EXPECT_FALSE(offeredMeanwhile);
    EXPECT_FALSE(repair.started_) << "no repair beside the update";
    EXPECT_TRUE(offeredAfter);
}

// Start stays off (button and Enter) while a repair runs; a repair that fails gives start
// and repair back, with its failure on the status line in the error colour.
TEST_F(LaunchDialogThreadTest, StartStaysOffDuringARepairAndBothComeBackAfterItFails) {
    PlaceGame();
    UpdateDouble update(gate_, true, "http://127.0.0.1:1/repair");
    RepairDouble repair(gate_);
    CLaunchDlg dialog(Options(&update, &repair));
    enum { Ready, Repairing, Failing, Done } stage = Ready;
    bool startOffDuringRepair = false, startedDuringRepair = true, bothBack = false;
    int ticks = 0;
    platform::ui::Timer driver;
    driver.Start(5, [&] {
        if (++ticks > kGiveUpTicks) {  // fails below instead of hanging
            repair.RequestStop();
            dialog.Command(kClose);
        }
        if (stage == Ready && dialog.button(kStartGame)->enabled()) {
            dialog.Command(kRepair);
            stage = Repairing;
        } else if (stage == Repairing && repair.sent_ >= 20) {
            startOffDuringRepair = !dialog.button(kStartGame)->enabled() &&
                                   !dialog.button(kRepair)->enabled() &&
                                   !dialog.model().startEnabled();
            dialog.PressEnter();
            dialog.Command(kStartGame);
            startedDuringRepair = GameStarted();
            repair.fail_ = true;
            stage = Failing;
        } else if (stage == Failing && repair.Ended() && dialog.button(kStartGame)->enabled()) {
            bothBack = dialog.button(kRepair)->enabled();
            stage = Done;
            dialog.Command(kClose);
        }
    });
    EXPECT_EQ(dialog.Run(), CLaunchDlg::Outcome::Closed);
    driver.Stop();
    EXPECT_EQ(stage, Done);
    EXPECT_TRUE(startOffDuringRepair);
    EXPECT_FALSE(startedDuringRepair);
    EXPECT_TRUE(bothBack);
    EXPECT_EQ(dialog.line(kStatusLine)->text(), "repair failed");
    EXPECT_EQ(dialog.model().statusColour(), kErrorColour);
}

// The marquee: a second MARQUEE_ON restarts it without harm, its spinner texts go to the
// detail line (never the status line), and MARQUEE_OFF ends it with the bar at 0.
TEST_F(LaunchDialogThreadTest, TheMarqueeSpinsItsTextsInTheDetailLineUntilItIsTurnedOff) {
    ScriptedUpdate update({{WM_LAUNCH_PROGRESS, 40},
                           {WM_LAUNCH_PROGRESS, MARQUEE_ON},
                           {WM_LAUNCH_PROGRESS, MARQUEE_ON}});
    CLaunchDlg dialog(Options(&update));
    const std::string spinner[] = {GetMessageText(80), GetMessageText(81), GetMessageText(82)};
    std::vector<std::string> seen;
    bool marqueeRan = false;
    platform::ui::Timer watcher;
    watcher.Start(5, [&] {
        if (!update.done_) return;
        marqueeRan |= dialog.bar(kUpperBar)->marquee();
        const std::string detail = dialog.line(kDetailLine)->text();
        if (seen.empty() || seen.back() != detail) seen.push_back(detail);
        if (seen.size() >= 3) dialog.Command(kClose);
    });
    EXPECT_EQ(dialog.Run(), CLaunchDlg::Outcome::Closed);
    EXPECT_TRUE(marqueeRan);
    ASSERT_GE(seen.size(), 3u);
    // After the empty start, each tick shows the next spinner text, in turn.
    for (size_t i = 2; i < seen.size(); ++i) {
        const auto at = [&](const std::string& t) {
            return std::find(spinner, spinner + 3, t) - spinner;
        };
        ASSERT_LT(at(seen[i]), 3) << seen[i];
        EXPECT_EQ(at(seen[i]), (at(seen[i - 1]) + 1) % 3) << "in turn";
    }
    EXPECT_TRUE(dialog.line(kStatusLine)->text().empty()) << "the status line is left alone";
}

TEST_F(LaunchDialogThreadTest, MarqueeOffStopsTheSpinnerAndEmptiesTheBar) {
    ScriptedUpdate update({{WM_LAUNCH_PROGRESS, 40},
                           {WM_LAUNCH_PROGRESS, MARQUEE_ON},
                           {WM_LAUNCH_PROGRESS, MARQUEE_OFF}});
    CLaunchDlg dialog(Options(&update));
    platform::ui::Timer watcher;
    watcher.Start(5, [&] {
        if (update.done_) dialog.Command(kClose);
    });
    EXPECT_EQ(dialog.Run(), CLaunchDlg::Outcome::Closed);
    EXPECT_FALSE(dialog.bar(kUpperBar)->marquee());
    EXPECT_EQ(dialog.bar(kUpperBar)->position(), 0);
}

// While the packs are written the close button is disabled; the window manager's close
// must not get round it.
TEST_F(LaunchDialogThreadTest, TheWindowManagersCloseIsIgnoredWhileCloseIsDisabled) {
    ScriptedUpdate update({{WM_LAUNCH_DISABLE_CLOSE, 0}});
    CLaunchDlg dialog(Options(&update));
    int ticksAfterAsking = -1;
    platform::ui::Timer watcher;
    watcher.Start(5, [&] {
        if (!update.done_) return;
        if (ticksAfterAsking < 0) {
            dialog.window().onCloseRequest();  // as the window manager's close box
            ticksAfterAsking = 0;
        } else if (++ticksAfterAsking == 3) {
            dialog.Command(kClose);  // the test's own way out
        }
    });
    EXPECT_EQ(dialog.Run(), CLaunchDlg::Outcome::Closed);
    EXPECT_EQ(ticksAfterAsking, 3) << "the window outlived the close request";
    EXPECT_FALSE(dialog.button(kClose)->enabled());
}

}  // namespace
