// Running a program to read what it prints: the launcher asks a candidate launcher for
// its version before installing it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace platform {

enum class RunOutcome {
    Exited,       // the program ended by itself; `exitCode` holds its code
    StartFailed,  // it could not be started (missing, not executable, not a program)
    Killed,       // it ran past the time-out or printed past the cap, and was killed
    Crashed,      // a signal ended it
};

// Runs `nativePath` with `args` in `nativeWorkingDir` (empty: the current directory; a
// relative `nativePath` is taken from there), stdin and stderr on /dev/null, and
// collects its standard output (at most `maxOutput` bytes). Waits at most `timeoutMs`;
// a program still running then is killed. The program inherits no descriptor of ours
// beyond the three standard ones.
RunOutcome RunForOutput(const std::string& nativePath, const std::vector<std::string>& args,
                        uint32_t timeoutMs, size_t maxOutput, std::string& output, int& exitCode,
                        const std::string& nativeWorkingDir = "");

}  // namespace platform
