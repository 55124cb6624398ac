// The launcher without a window: the update runs with its status, detail and extra lines
// and both bars drawn on the terminal, then, on request, the game starts.
#pragma once

#include <string>
#include <vector>

class CLaunchApp;
namespace platform {
class FileLock;
}

struct HeadlessOptions {
    bool startGame = false;              // start the game once the client is up to date
    bool repair = false;                 // then check the client and restore damaged files
    bool json = false;                   // JSON lines on stdout instead of the drawn view
    std::vector<std::string> args;       // the launcher's own arguments, for a restart
    platform::FileLock* lock = nullptr;  // the client's lock, handed to a restarted launcher
    std::string launcherVersion;         // this launcher's built-in version
};

// Runs the update to its end and, on request, the repair after it. Returns the process
// exit code: 0 when the client is up to date (the repair, if asked, completed; the game
// started, if asked), non-zero otherwise. Ctrl+C during the repair stops it between two
// files and waits for it. After a self-update the new
// launcher is run with the same arguments and its exit code returned.
int RunHeadless(CLaunchApp& app, const HeadlessOptions& options);
