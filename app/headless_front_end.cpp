#include "app/headless_front_end.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "app/app_messages.h"
#include "app/engine_setup.h"
#include "app/game_check_terminal.h"
#include "app/game_launch.h"
#include "app/game_processes.h"
#include "app/json_view.h"
#include "app/launch_app.h"
#include "app/launch_dialog_model.h"
#include "app/terminal_view.h"
#include "app/worker_hooks.h"
#include "axp/updater.h"
#include "download/create_downloader.h"
#include "platform/event.h"
#include "platform/file_lock.h"
#include "platform/interrupt_watch.h"
#include "platform/messages.h"
#include "platform/process.h"
#include "update/launch_messages.h"
#include "update/launch_worker.h"
#include "update/message_table.h"
#include "update/repair_worker.h"

namespace {

constexpr const char* kMainWindowClass = "QUILLGATE_MAIN_WINDOW";
// Polls for the end of a repair that was asked to stop, as the window's close does.
constexpr uintptr_t kRepairEndTimer = 1001;
constexpr uint32_t kRepairEndPollMs = 10;

struct FrontEnd {
    LaunchDialogModel* model = nullptr;
    TerminalView* view = nullptr;
    JsonView* json = nullptr;  // instead of the view, with --json
    CLaunchWorker* worker = nullptr;
    CRepairWorker* repair = nullptr;
    bool restartLauncher = false;
    bool manualDownload = false;
};

platform::JsonLine JsonEvent(const char* name) {
    platform::JsonLine line;
    line.Text("event", name);
    return line;
}

// The figures of a worker's download while one runs.
std::optional<JsonView::Transfer> TransferOf(CAutoDownload* downloader) {
    if (downloader == nullptr ||
        (downloader->GetState() & kDownloadPhaseMask) != kDownloadPhaseRunning)
        return std::nullopt;
    int64_t total = 0, done = 0;
    if (!downloader->GetProgress(total, done)) return std::nullopt;
    return JsonView::Transfer{done, total, downloader->GetSpeed()};
}

// Waits for a stopped repair to end; true once it has.
bool RepairEndedAfterStop(FrontEnd& fe, platform::WindowHandle window) {
    if (fe.repair->running()) return false;
    platform::KillTimer(window, kRepairEndTimer);
    fe.model->OnRepairThreadEnded();
    return true;
}

intptr_t MainWindowProc(platform::WindowHandle window, uint32_t message, uintptr_t wParam,
                        intptr_t lParam) {
    auto* fe = reinterpret_cast<FrontEnd*>(platform::GetWindowUserData(window));
    if (fe == nullptr) return platform::DefWindowProc(window, message, wParam, lParam);
    if (message == WM_APP_WORKER_ENDED || message == WM_CLOSE || message == WM_APP_REPAIR_ENDED) {
        platform::PostQuitMessage(0);
        return 0;
    }
    if (message == WM_APP_INTERRUPTED) {
        if (fe->model->RequestClose() == LaunchDialogModel::Action::WaitForRepairThenClose)
            platform::SetTimer(window, kRepairEndTimer, kRepairEndPollMs);
        else
            platform::PostQuitMessage(0);
        return 0;
    }
    if (message == platform::WM_TIMER && wParam == kRepairEndTimer) {
        if (RepairEndedAfterStop(*fe, window)) platform::PostQuitMessage(0);
        return 0;
    }
    switch (fe->model->HandleMessage(message, wParam, lParam)) {
        case LaunchDialogModel::Action::StartInstalledLauncherAndClose:
            fe->restartLauncher = true;
            break;
        case LaunchDialogModel::Action::RunManualDownloadThenQuit:
            fe->manualDownload = true;
            break;
        default:
            break;
    }
    if (fe->json == nullptr) {
        fe->view->Draw(*fe->model);
        return 0;
    }
    fe->json->Show(message, *fe->model);
    // The server list's step ends with this message too, while the result is still open.
    if (message == WM_LAUNCH_DONE && fe->worker->result() != kResultRunning)
        fe->json->Write(
            JsonEvent("done").Text("phase", "update").Number("result", fe->worker->result()));
    if (message == WM_REPAIR_DONE)
        fe->json->Write(JsonEvent("done")
                            .Text("phase", "repair")
                            .Number("repaired", fe->repair->repairedCount()));
    return 0;
}

// Runs the repair on the same window and view; true when it completed.
bool RunRepair(FrontEnd& fe, platform::WindowHandle window, AXP::IUpdater& updater,
               const LauncherConfig& config, std::function<bool()> checkGameRunning,
               std::function<std::unique_ptr<CAutoDownload>()> createDownloader) {
    CRepairWorker::Hooks hooks;
    hooks.checkGameRunning = std::move(checkGameRunning);
    hooks.createDownloader = std::move(createDownloader);
    hooks.finished = [window] { platform::PostMessage(window, WM_APP_REPAIR_ENDED, 0, 0); };
    fe.repair->SetHooks(hooks);
    // The client's gate decides; the worker's own pass refuses it anyway beside a writer.
    const bool mayBegin = fe.model->repairEnabled();
    bool started = false;
    {
        // Ctrl+C asks the repair to stop between two files instead of ending the process
        // in the middle of one.
        platform::InterruptWatch interrupts(
            [window] { platform::PostMessage(window, WM_APP_INTERRUPTED, 0, 0); });
        started = mayBegin && fe.repair->Start(window, &updater, config);
        if (started) {
            fe.model->OnRepairStarted();
            platform::Message msg;
            while (platform::GetMessage(msg)) platform::DispatchMessage(msg);
        }
        fe.repair->Join();
    }
    fe.model->OnRepairThreadEnded();
    if (!started) {
        const MessageId reason = mayBegin ? MessageId::kConfigBad : MessageId::kClientBusy;
        const std::string text =
            FormatMessage<MessageId::kRepairStartFailed>(std::string(GetMessageText(reason)));
        if (fe.json != nullptr)
            fe.json->Write(JsonEvent("repair").Bool("started", false).Text("text", text));
        else
            std::printf("%s\n", text.c_str());
        return false;
    }
    if (fe.json != nullptr)
        fe.json->Write(JsonEvent("repair")
                           .Bool("started", true)
                           .Bool("completed", fe.repair->completed())
                           .Number("repaired", fe.repair->repairedCount()));
    else
        std::printf("repair %s, repaired %d\n",
                    fe.repair->completed() ? "completed" : "not completed",
                    fe.repair->repairedCount());
    return fe.repair->completed();
}

// Keeps the process, and with it the engine's block server, for `seconds` or until Ctrl+C,
// when the engine is in use and may seed. With JSON lines the notice goes to stderr, which
// carries everything that is not an event.
void SeedAfterRun(uint32_t seconds, const LauncherConfig& config, bool json) {
    if (seconds == 0 || !config.engine.enabled || !config.engine.seed || !EngineInProcess()) return;
    std::FILE* out = json ? stderr : stdout;
    std::fprintf(out, "seeding for %u s (Ctrl+C ends it)\n", seconds);
    std::fflush(out);
    platform::Event interrupted(true, false);
    platform::InterruptWatch interrupts([&interrupted] { interrupted.Set(); });
    constexpr uint32_t kLongestWaitSeconds = 0xFFFFFFFF / 1000;
    interrupted.Wait(std::min(seconds, kLongestWaitSeconds) * 1000);
}

// The exit code of a run after its seeding time.
int AfterSeeding(int exitCode, uint32_t seconds, const LauncherConfig& config, bool json) {
    SeedAfterRun(seconds, config, json);
    return exitCode;
}

}  // namespace

int RunHeadless(CLaunchApp& app, const HeadlessOptions& options) {
    const bool interactive = isatty(STDOUT_FILENO) != 0;
    TerminalView view(stdout, interactive);
    CLaunchWorker worker;
    CRepairWorker repair;
    LaunchDialogModel model({[&] { return worker.result(); },
                             [&] { return repair.repairedCount(); }, [&] { repair.SignalStop(); }},
                            options.repair);
    // The workers' downloaders, made here so that the JSON lines can carry their figures.
    CAutoDownload* updateDownloader = nullptr;
    CAutoDownload* repairDownloader = nullptr;
    JsonView json(stdout, [&](bool repairing) {
        return TransferOf(repairing ? repairDownloader : updateDownloader);
    });
    FrontEnd fe{&model, &view, options.json ? &json : nullptr, &worker, &repair};
    // Whatever is not a JSON line goes to stderr when stdout carries them.
    FILE* const textOut = options.json ? stderr : stdout;

    platform::RegisterWindowClass(kMainWindowClass, &MainWindowProc);
    const platform::WindowHandle window = platform::CreateMessageWindow(kMainWindowClass);
    platform::SetWindowUserData(window, reinterpret_cast<intptr_t>(&fe));

    CLaunchWorker::Hooks hooks = CommonUpdateHooks(app, options.args, options.launcherVersion);
    hooks.showMessage = [](const std::string& text) { std::fprintf(stderr, "%s\n", text.c_str()); };
    hooks.checkGameRunning = [&] {
        const std::string game = GameImagePath(worker.config().gameExe);
        // Without a terminal to ask there is nothing to say here: the worker's error
        // (message 54) tells the user once.
        if (isatty(STDIN_FILENO) == 0) return !FindGameProcesses(game).empty();
        return CheckGameRunningOnTerminal(game, stdin, textOut, true);
    };
    hooks.finished = [window] { platform::PostMessage(window, WM_APP_WORKER_ENDED, 0, 0); };
    hooks.createDownloader = [&updateDownloader] {
        std::unique_ptr<CAutoDownload> downloader = CreateDownloader(0);
        updateDownloader = downloader.get();
        return downloader;
    };
    worker.SetHooks(hooks);

    AXP::Updater updater;
    if (worker.Start(window, &updater, kConfigFileName)) {
        platform::Message msg;
        while (platform::GetMessage(msg)) platform::DispatchMessage(msg);
    }
    worker.Join();

    const bool upToDate =
        worker.result() == kResultUpToDate && !fe.manualDownload && !fe.restartLauncher;
    const bool repairAfterUpdate = upToDate && options.repair;
    bool repaired = false;
    const auto showResult = [&] {
        if (options.json)
            json.Write(JsonEvent("result").Number("result", worker.result()));
        else
            std::printf("result %d\n", worker.result());
    };
    if (repairAfterUpdate) {
        showResult();
        repaired = RunRepair(fe, window, updater, worker.config(), hooks.checkGameRunning,
                             [&repairDownloader] {
                                 std::unique_ptr<CAutoDownload> d = CreateDownloader(0);
                                 repairDownloader = d.get();
                                 return d;
                             });
    }
    platform::DestroyMessageWindow(window);

    if (fe.manualDownload) {
        if (options.json)
            json.Write(JsonEvent("manual-download")
                           .Text("text", GetMessageText(MessageId::kGoToOperatorSite))
                           .Text("site", GetMessageText(MessageId::kOperatorSite)));
        else
            std::printf("%s: %s\n", GetMessageText(MessageId::kGoToOperatorSite),
                        GetMessageText(MessageId::kOperatorSite));
        return 1;
    }
    if (fe.restartLauncher) {
        // The new launcher carries on in this terminal; its verdict is ours.
        if (options.json) json.Write(JsonEvent("restart"));
        std::vector<std::string> args = options.args;
        if (hooks.selfUpdateAllowed) args.push_back(kAfterSelfUpdateOption);
        if (options.lock != nullptr) options.lock->ShareWithNextProcess();
        uint32_t id = 0;
        const bool started =
            platform::StartProcess(std::string("./") + kInstalledLauncher, args, "", &id).ok();
        if (options.lock != nullptr) options.lock->StopSharing();
        return started ? platform::WaitForProcess(id) : 1;
    }
    if (!repairAfterUpdate) showResult();
    const uint32_t seed = options.seedSeconds;
    if (worker.result() != kResultUpToDate || (options.repair && !repaired))
        return AfterSeeding(1, seed, worker.config(), options.json);
    if (options.startGame) {
        const GameLaunch launch = RunGame(worker.config());
        if (!launch.started) std::fprintf(stderr, "%s\n", launch.whyNot.c_str());
        if (options.json) {
            platform::JsonLine line = JsonEvent("start");
            line.Bool("started", launch.started);
            if (!launch.started) line.Text("text", launch.whyNot);
            json.Write(line);
        }
        if (!launch.started) return AfterSeeding(1, seed, worker.config(), options.json);
    }
    return AfterSeeding(0, seed, worker.config(), options.json);
}
