#include "app/window_front_end.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>

#include "app/engine_setup.h"
#include "app/install_layout.h"
#include "app/kill_game_dialog.h"
#include "app/launch_app.h"
#include "app/launch_dialog.h"
#include "app/worker_hooks.h"
#include "axp/updater.h"
#include "platform/event.h"
#include "platform/file_lock.h"
#include "platform/process.h"
#include "platform/system_time.h"
#include "platform/ui/open_url.h"
#include "platform/ui/toolkit.h"
#include "update/launch_messages.h"
#include "update/launch_worker.h"
#include "update/repair_worker.h"

namespace {

// How long a closed window waits for a worker that has been told nothing: a worker at
// its end finishes within this; one in the middle of a download is not waited for.
constexpr uint32_t kWorkerGraceMs = 1000;

// The update pipeline behind the window.
class PipelineUpdate : public UpdateWork {
  public:
    PipelineUpdate(CLaunchApp& app, const WindowOptions& options) : app_(app), options_(options) {}

    bool Start(platform::WindowHandle window) override {
        CLaunchWorker::Hooks hooks =
            CommonUpdateHooks(app_, options_.args, options_.launcherVersion);
        hooks.showMessage = [window](const std::string& text) {
            platform::SendMessage(window, WM_APP_SHOW_MESSAGE,
                                  reinterpret_cast<uintptr_t>(text.c_str()), 0);
        };
        // Asked on the window's thread; a window that is gone cannot be asked, and an
        // update nobody watches must not touch the files of a running game.
        hooks.checkGameRunning = [window] {
            return platform::SendMessage(window, WM_APP_CHECK_GAME, 0, 0).value_or(1) != 0;
        };
        hooks.finished = [this, window] {
            ended_.Set();
            platform::PostMessage(window, WM_APP_WORKER_ENDED, 0, 0);
        };
        worker_.SetHooks(std::move(hooks));
        started_ = worker_.Start(window, &updater_, kConfigFileName);
        if (!started_) ended_.Set();
        return started_;
    }
    int result() const override { return worker_.result(); }
    const LauncherConfig& config() const override { return worker_.config(); }

    // True when the worker thread has ended (joined) within `ms`.
    bool EndWithin(uint32_t ms) {
        if (!ended_.Wait(ms)) return false;
        worker_.Join();
        return true;
    }

  private:
    CLaunchApp& app_;
    const WindowOptions& options_;
    AXP::Updater updater_;
    CLaunchWorker worker_;
    platform::Event ended_{true, false};
    bool started_ = false;
};

// The repair pipeline behind the window's repair button; its worker holds the process's
// client gate, so it never runs beside the update's thread or the game start.
class PipelineRepair : public RepairWork {
  public:
    explicit PipelineRepair(const PipelineUpdate& update) : update_(update) {}

    bool Start(platform::WindowHandle window) override {
        CRepairWorker::Hooks hooks;
        // A window that is gone cannot ask: no repair under a running game then.
        hooks.checkGameRunning = [window] {
            return platform::SendMessage(window, WM_APP_CHECK_GAME, 0, 0).value_or(1) != 0;
        };
        // The window learns of every end, a failed or stopped one too, and offers start
        // and repair again as they were before.
        hooks.finished = [window] { platform::PostMessage(window, WM_APP_REPAIR_ENDED, 0, 0); };
        worker_.SetHooks(std::move(hooks));
        return worker_.Start(window, &updater_, update_.config());
    }
    void RequestStop() override { worker_.SignalStop(); }
    bool Ended() const override { return !worker_.running(); }
    int repairedCount() const override { return worker_.repairedCount(); }

  private:
    const PipelineUpdate& update_;
    AXP::Updater updater_;
    CRepairWorker worker_;  // destroyed first: stops and joins the thread
};

}  // namespace

int RunWindow(CLaunchApp& app, const WindowOptions& options) {
    const std::string exePath = platform::GetExecutablePath();
    auto skin = platform::ui::Skin::Load(FindSkinFolder(exePath));
    PipelineUpdate update(app, options);
    PipelineRepair repair(update);

    CLaunchDlg::Options dialogOptions;
    dialogOptions.skin = skin;
    dialogOptions.update = &update;
    dialogOptions.repair = &repair;
    dialogOptions.version = options.launcherVersion;
    dialogOptions.openUrl = [](const std::string& url) { platform::ui::OpenUrl(url); };
    dialogOptions.checkGameRunning = [&update, skin](platform::ui::Window& owner) {
        return CheckGameRunning(&owner, skin, GameImagePath(update.config().gameExe));
    };
    const bool report = std::getenv("QUILLGATE_REPORT_FIRST_FRAME") != nullptr;

    CLaunchDlg::Outcome outcome;
    {
        CLaunchDlg dialog(std::move(dialogOptions));
        if (report) {
            dialog.window().onFirstPaint = [] {
                // Milliseconds since 1970, for a script that knows when it started us.
                const int64_t fileTime =
                    platform::SystemTimeToFileTime(platform::GetSystemTimeNow());
                std::fprintf(stderr, "first frame at %lld ms\n",
                             static_cast<long long>((fileTime - 116444736000000000LL) / 10000));
            };
        }
        outcome = dialog.Run();
    }

    int code = update.result() == kResultUpToDate ? 0 : 1;
    if (outcome == CLaunchDlg::Outcome::LauncherReplaced) {
        if (options.lock != nullptr) options.lock->ShareWithNextProcess();
        const bool started = platform::StartProcess(std::string("./") + kInstalledLauncher,
                                                    {kAfterSelfUpdateOption}, "")
                                 .ok();
        if (options.lock != nullptr) options.lock->StopSharing();
        code = started ? 0 : 1;
    }
    // A worker still downloading is not waited for: the window is gone, its sends fail,
    // and the process ends as the window did (downloads resume from nothing next time).
    if (!update.EndWithin(kWorkerGraceMs)) platform::ui::EndProcessNow(code);
    return code;
}
