// Finding and ending running copies of the game client, so that no update or repair
// touches its files while it runs.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/process.h"

// Where the processes come from and how they are ended and waited for: the system's by
// default; tests give a folder laid out as /proc and functions of their own.
struct ProcessAccess {
    std::string procRoot = "/proc";
    std::function<bool(uint32_t id)> terminate = [](uint32_t id) {
        return platform::TerminateProcessById(id).ok();
    };
    std::function<void(uint32_t ms)> pause = platform::SleepMilliseconds;
};
const ProcessAccess& SystemProcesses();

// True when `process` runs the game at `gamePath` (a native absolute path). Compared
// without regard to letter case, the game path must occur in the process's image path,
// or, for a game run through Wine (whose image is the Wine loader), in the native path
// that the Windows path of its first argument names: the drive is looked up in the
// process's Wine prefix (its WINEPREFIX, else ~/.wine of its HOME or of its user), and
// "Z:" stands for "/" when no prefix says otherwise.
bool IsSameImage(const platform::ProcessEntry& process, const std::string& gamePath);

// The ids of every process running the game.
std::vector<uint32_t> FindGameProcesses(const std::string& gamePath,
                                        const ProcessAccess& access = SystemProcesses());

// Ends every process running the game; the number that could be signalled. Does not
// wait: a process may still be listed for a moment after it was signalled.
int TerminateGameProcesses(const std::string& gamePath,
                           const ProcessAccess& access = SystemProcesses());

// Ends every process running the game and checks, for about `kForceCloseCheckMs`, that
// they are gone; true when none is left.
inline constexpr uint32_t kForceCloseCheckMs = 2000;
bool ForceCloseGame(const std::string& gamePath, const ProcessAccess& access = SystemProcesses());

// Waits, looking every `pollMs`, until no process runs the game.
void WaitForGameToEnd(const std::string& gamePath, uint32_t pollMs,
                      const ProcessAccess& access = SystemProcesses());

// The native absolute path of the game: the client directory (current directory) joined
// with the configured, GBK-encoded game executable.
std::string GameImagePath(const std::string& gameExeGbk);
