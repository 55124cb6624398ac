// quillgate: the launcher. Installed in the client folder as "quillgate.exe"; it hands
// over to a copy, "quillgate.bin", which brings the client up to date.
//
//   quillgate.exe [-direct] [--headless] [--start] [platform tokens]
//   quillgate.exe --help | --version
//
// With a display the launcher opens its window; --headless (or no display) runs the
// update on the terminal instead, --repair then checks and restores the client's files,
// and --start then starts the game.

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "app/headless_front_end.h"
#include "app/launch_app.h"
#include "app/window_front_end.h"
#include "platform/file_lock.h"
#include "platform/http_global.h"
#include "platform/process.h"
#include "platform/ui/toolkit.h"
#include "update/message_table.h"
#include "update/patch_info.h"
#include "update/version.h"

namespace {

constexpr const char* kUsage =
    "usage: quillgate.exe [-direct] [--headless [--repair] [--seed SECONDS]] [--start]\n"
    "                     [/V:session /N:user]\n"
    "       quillgate.exe --help | --version\n"
    "\n"
    "Brings the game client in the current folder up to date from its update servers.\n"
    "  -direct     run here, without handing over to quillgate.bin\n"
    "  --headless  show the update on the terminal instead of the window (also without a\n"
    "              display); exit 0 when the client is up to date\n"
    "  --repair    with --headless, after the update check every file against the published\n"
    "              list and restore the damaged ones; exit 0 only when the repair completed\n"
    "  --start     then start the game\n"
    "  --seed SECONDS  with --headless and the download engine on (quillgate.cfg), stay\n"
    "              that long after the run, serving what it fetched to other players, as\n"
    "              an open window does; Ctrl+C ends it\n"
    "  --help      print this text and end\n"
    "  --version   print the launcher's version and end\n";

// The version this build claims; the tests build a "newer" launcher with another one.
#ifdef QG_LAUNCHER_VERSION
constexpr const char* kBuiltInVersion = QG_LAUNCHER_VERSION;
#else
constexpr const char* kBuiltInVersion = kLauncherVersionText;
#endif

// Connection attempts to a named display before the terminal front end takes over.
constexpr int kDisplayAttempts = 3;

bool HasArgument(const std::vector<std::string>& args, const char* option) {
    for (const std::string& a : args)
        if (a == option) return true;
    return false;
}

// The value after "--seed": whole seconds; absent or not a decimal: 0.
uint32_t SeedSeconds(const std::vector<std::string>& args) {
    for (size_t i = 0; i + 1 < args.size(); ++i) {
        if (args[i] != "--seed") continue;
        const std::optional<uint64_t> value = ParseDecimal(args[i + 1]);
        return value ? static_cast<uint32_t>(std::min<uint64_t>(*value, UINT32_MAX)) : 0;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    // Answered before anything else: asking must never start an update or leave files.
    if (HasArgument(args, "--help")) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (HasArgument(args, "--version")) {
        std::printf("%s\n", kBuiltInVersion);
        return 0;
    }

    SetMessageLanguage(936);
    const std::string exePath = platform::GetExecutablePath();
    const std::string commandLine = JoinCommandLine(argc, argv);

    CLaunchApp app;
    std::string error;
    if (!app.ParseCommandLine(commandLine, exePath, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }

    const bool headless = HasArgument(args, "--headless");

    // One launcher per client: the lock is taken before the hand-over copies anything and
    // handed down to the copy (and to a restarted launcher), so it is never free between
    // them. A file system without locks leaves the run unguarded, as it always was.
    platform::FileLock lock;
    if (lock.Acquire(kClientLockFile) == platform::FileLock::Result::Busy) {
        std::fprintf(stderr, "%s\n", kAnotherLauncherRunning);
        return 1;
    }

    if (CLaunchApp::DecideRole(exePath, app.DirectMode) == LaunchRole::HandOver) {
        lock.ShareWithNextProcess();
        if (!headless) {
            // A window restarted after a self-update must know it, as a terminal one does.
            std::vector<std::string> options;
            if (HasArgument(args, kAfterSelfUpdateOption))
                options.push_back(kAfterSelfUpdateOption);
            return app.PerformHandOver(options) ? 0 : 1;
        }
        // On a terminal the copy carries on in the same terminal, and its verdict is the
        // launcher's: pass the terminal options on and wait for it.
        std::vector<std::string> options;
        for (size_t i = 0; i < args.size(); ++i) {
            const std::string& a = args[i];
            if (a == "--headless" || a == "--start" || a == "--repair" ||
                a == kAfterSelfUpdateOption)
                options.push_back(a);
            if (a == "--seed" && i + 1 < args.size()) {
                options.push_back(a);
                options.push_back(args[++i]);
            }
        }
        uint32_t id = 0;
        return app.PerformHandOver(options, &id) ? platform::WaitForProcess(id) : 1;
    }
    if (!app.DirectMode) platform::SleepMilliseconds(100);  // let the installed copy end
    platform::SetEnvironmentVariable("CodeName", "Brevane");
    if (!platform::EnsureHttpGlobalInit()) {
        std::fprintf(stderr, "%s\n", kNetworkInitFailed);
        return 1;
    }

    // The window needs a desktop session; the terminal front end works everywhere.
    if (!headless) {
        // A display under load refuses a connection now and then; a few tries tell that
        // apart from a display that is not there.
        bool connected = false;
        for (int attempt = 0;
             attempt < kDisplayAttempts && !connected && platform::ui::DisplayNamed(); ++attempt) {
            if (attempt > 0) platform::SleepMilliseconds(200);
            connected = platform::ui::InitToolkit();
        }
        if (connected) return RunWindow(app, WindowOptions{args, &lock, kBuiltInVersion});
        std::fprintf(stderr, "no display: showing the update on the terminal\n");
    }
    return RunHeadless(
        app, HeadlessOptions{HasArgument(args, "--start"), HasArgument(args, "--repair"), args,
                             &lock, kBuiltInVersion, SeedSeconds(args)});
}
