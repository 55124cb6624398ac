// quillgate: the launcher. Installed in the client folder as "quillgate.exe"; it hands
// over to a copy, "quillgate.bin", which brings the client up to date.
//
//   quillgate.exe [-direct] [--headless] [--start] [platform tokens]
//
// --headless runs the update on the terminal; --start then starts the game.

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/headless_front_end.h"
#include "app/launch_app.h"
#include "app/process_settings.h"
#include "platform/http_global.h"
#include "platform/process.h"

int main(int argc, char** argv) {
    LanguageCodePage = 936;
    const std::string exePath = platform::GetExecutablePath();
    const std::string commandLine = JoinCommandLine(argc, argv);

    CLaunchApp app;
    std::string error;
    if (!app.ParseCommandLine(commandLine, exePath, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }

    std::vector<std::string> args(argv + 1, argv + argc);
    bool headless = false, startGame = false;
    for (const std::string& a : args) {
        headless = headless || a == "--headless";
        startGame = startGame || a == "--start";
    }

    if (CLaunchApp::DecideRole(exePath, DirectMode) == LaunchRole::HandOver) {
        if (!headless) return app.PerformHandOver() ? 0 : 1;
        // On a terminal the copy carries on in the same terminal, and its verdict is the
        // launcher's: pass the terminal options on and wait for it.
        std::vector<std::string> options;
        for (const std::string& a : args) {
            if (a == "--headless" || a == "--start") options.push_back(a);
        }
        uint32_t id = 0;
        return app.PerformHandOver(options, &id) ? platform::WaitForProcess(id) : 1;
    }
    if (!DirectMode) platform::SleepMilliseconds(100);  // let the installed copy end
    platform::SetEnvironmentVariable("CodeName", "Brevane");
    platform::EnsureHttpGlobalInit();

    // The window needs a desktop session; the terminal front end works everywhere.
    return RunHeadless(app, HeadlessOptions{startGame, args});
}
