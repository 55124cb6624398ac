// The launcher with its window: the update runs while the main window shows it; the
// window's buttons start the game. Needs a display (see platform::ui::InitToolkit).
#pragma once

#include <string>
#include <vector>

class CLaunchApp;
namespace platform {
class FileLock;
}

struct WindowOptions {
    std::vector<std::string> args;       // the launcher's own arguments, for a restart
    platform::FileLock* lock = nullptr;  // the client's lock, handed to a restarted launcher
    std::string launcherVersion;         // this launcher's built-in version
};

// Runs the window until it closes; the process exit code. Call after
// platform::ui::InitToolkit succeeded.
int RunWindow(CLaunchApp& app, const WindowOptions& options);
