// quillgate: the launcher. Installed in the client folder as "quillgate.exe"; it hands
// over to a copy, "quillgate.bin", which brings the client up to date.
//
//   quillgate.exe [-direct] [--headless [--json] [--repair]] [--start] [platform tokens]
//   quillgate.exe --help | --version
//
// With a display the launcher opens its window; --headless (or no display) runs the
// update on the terminal instead (--json: as JSON lines), --repair then checks and
// restores the client's files, and --start then starts the game.

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/headless_front_end.h"
#include "app/install_layout.h"
#include "app/launch_app.h"
#include "app/launcher_options.h"
#include "app/window_front_end.h"
#include "platform/file_lock.h"
#include "platform/http_global.h"
#include "platform/process.h"
#include "platform/ui/toolkit.h"
#include "update/message_table.h"
#include "update/version.h"

namespace {

constexpr const char* kSynopsis = "Usage: quillgate [OPTION]... [/V:SESSION /N:USER]\n";

// The help: the options from the table the parser reads.
int Help() {
    std::fputs(kSynopsis, stdout);
    std::fputs(
        "Brings the game client in the current folder up to date from its update servers,\n"
        "with its window or on the terminal, then starts the game. Installed in a client\n"
        "folder it is named quillgate.exe.\n"
        "\nOptions:\n",
        stdout);
    platform::PrintOptions(stdout, LauncherOptionTable());
    std::fputs(
        "\nExit status: 0 when the client is up to date (and the repair completed, and the\n"
        "game started, when asked), 1 otherwise.\n",
        stdout);
    return 0;
}

// Where this launcher finds its skin and its helper program, as the window and the start
// button look for them.
int ShowFiles() {
    const std::string exePath = platform::GetExecutablePath();
    std::printf("skin %s\nhelper %s\n", FindSkinFolder(exePath).c_str(),
                FindRundllProgram(exePath).c_str());
    return 0;
}

// The version this build claims; the tests build a "newer" launcher with another one.
#ifdef QG_LAUNCHER_VERSION
constexpr const char* kBuiltInVersion = QG_LAUNCHER_VERSION;
#else
constexpr const char* kBuiltInVersion = kLauncherVersionText;
#endif

// Connection attempts to a named display before the terminal front end takes over.
constexpr int kDisplayAttempts = 3;

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    const LauncherOptions options = ParseLauncherOptions(args);
    // Answered before anything else: asking must never start an update or leave files.
    if (options.help) return Help();
    if (options.files) return ShowFiles();
    if (options.version) {
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

    const bool headless = options.headless;

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
            std::vector<std::string> passed;
            for (const std::string& a : args)
                if (a == kAfterSelfUpdateOption) passed.push_back(a);
            return app.PerformHandOver(passed) ? 0 : 1;
        }
        // On a terminal the copy carries on in the same terminal, and its verdict is the
        // launcher's: pass the terminal options on and wait for it.
        uint32_t id = 0;
        return app.PerformHandOver(TerminalOptionsToPassOn(args), &id)
                   ? platform::WaitForProcess(id)
                   : 1;
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
    return RunHeadless(app, HeadlessOptions{options.start, options.repair, options.json, args,
                                            &lock, kBuiltInVersion});
}
