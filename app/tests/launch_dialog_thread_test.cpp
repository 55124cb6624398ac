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

// Reports without end until a send fails (the window is gone); optionally finishes with
// the client up to date first.
class UpdateDouble : public UpdateWork {
  public:
    explicit UpdateDouble(bool finishFirst, std::string repairUrl = "")
        : finishFirst_(finishFirst) {
        config_.repairUrl = std::move(repairUrl);
        config_.stylePath = kStyleFileName;
    }
    ~UpdateDouble() override {
        if (thread_.joinable()) thread_.join();
    }
    bool Start(platform::WindowHandle window) override {
        thread_ = std::thread([this, window] {
            if (finishFirst_) {
                result_ = kResultUpToDate;
                platform::SendMessage(window, WM_LAUNCH_DONE, 0, 0);
                return;
            }
            for (uint64_t n = 0;; ++n) {
                if (finish_) {
                    result_ = kResultUpToDate;
                    platform::SendMessage(window, WM_LAUNCH_DONE, 0, 0);
                    return;
                }
                const std::string text = "status " + std::to_string(n);
                auto answer = platform::SendMessage(window, WM_LAUNCH_STATUS,
                                                    reinterpret_cast<uintptr_t>(text.c_str()), 0);
                if (!answer || !platform::SendMessage(window, WM_LAUNCH_PROGRESS, n % 101, 0))
                    break;
                sent_ = n + 1;
            }
            sendFailed_ = true;
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

// Reports repair progress until asked to stop, then reports its end and ends.
class RepairDouble : public RepairWork {
  public:
    ~RepairDouble() override {
        if (thread_.joinable()) thread_.join();
    }
    bool Start(platform::WindowHandle window) override {
        thread_ = std::thread([this, window] {
            for (uintptr_t n = 0; !stop_; ++n) {
                const std::string text = "checking " + std::to_string(n);
                platform::SendMessage(window, WM_REPAIR_STATUS,
                                      reinterpret_cast<uintptr_t>(text.c_str()), 0);
                platform::SendMessage(window, WM_REPAIR_TOTAL_PROGRESS, n % 101, 0);
                sent_ = n + 1;
            }
            platform::SendMessage(window, WM_REPAIR_DONE, 0, 0);
            ended_ = true;
        });
        return true;
    }
    void RequestStop() override { stop_ = true; }
    bool Ended() const override { return ended_; }
    int repairedCount() const override { return 3; }

    std::atomic<uint64_t> sent_{0};

  private:
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
        o.startInstallPing = false;
        return o;
    }
};

TEST_F(LaunchDialogThreadTest, ClosingWhileAWorkerSendsEndsTheWindowAndFailsTheSends) {
    UpdateDouble update(false);
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
    UpdateDouble update(true, "http://127.0.0.1:1/repair");
    RepairDouble repair;
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
    UpdateDouble update(true, "");
    RepairDouble repair;
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
    testing_support::TempDir dir("qg_enter_start");
    testing_support::ScopedCurrentDir cwd(dir.path().string());
    platform::SetEnvironmentVariable("QG_REGISTRY_HKCU", dir / "registry");
    testing_support::WriteFile(dir / "qadr.exe", "#!/bin/sh\nexit 0\n");
    std::filesystem::permissions(dir / "qadr.exe", std::filesystem::perms::owner_all);
    UpdateDouble update(false);
    CLaunchDlg dialog(Options(&update));
    bool pressedEarly = false, startedEarly = true;
    platform::ui::Timer driver;
    driver.Start(5, [&] {
        if (!pressedEarly && update.sent_ >= 5) {
            pressedEarly = true;
            dialog.PressEnter();
            startedEarly = std::filesystem::exists(dir / "style.cfg");
            update.finish_ = true;
        } else if (pressedEarly && dialog.model().startEnabled()) {
            driver.Stop();
            dialog.PressEnter();  // starts the game and closes the window
        }
    });
    EXPECT_EQ(dialog.Run(), CLaunchDlg::Outcome::Closed);
    EXPECT_TRUE(pressedEarly);
    EXPECT_FALSE(startedEarly);
    EXPECT_TRUE(std::filesystem::exists(dir / "style.cfg")) << "the game was started";
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
