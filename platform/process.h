// Processes: the running executable, the process list, starting and ending processes,
// and the environment that started processes inherit.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/sys_status.h"

namespace platform {

// Full native path of the running executable; empty when it cannot be read.
std::string GetExecutablePath();

struct ProcessEntry {
    uint32_t id = 0;
    std::string image;          // native path of the executable; empty when unreadable
    std::string commandLine;    // arguments joined by single spaces; argv[0] first
    std::string firstArgument;  // argv[0] alone (it may hold spaces)
    std::string name;           // the kernel's short name of the process
    std::string procDir;        // its folder in the process table ("/proc/ID"); may be empty
};

// Calls `visit` for every process of the system. A process that vanishes or cannot be
// read is still reported with whatever could be read. False when /proc cannot be read.
bool EnumerateProcesses(const std::function<void(const ProcessEntry&)>& visit);
// The same for a folder laid out as /proc (tests give one of their own).
bool EnumerateProcessesIn(const std::string& nativeProcRoot,
                          const std::function<void(const ProcessEntry&)>& visit);

// The value of a variable in the environment a process was started with; empty when it
// is not set or cannot be read (another user's process, one that has ended).
std::string ProcessEnvironmentValue(const ProcessEntry& process, const std::string& name);

// The home folder of the user that owns a process (its real user id, from the user
// database); empty when unknown.
std::string ProcessOwnerHome(const ProcessEntry& process);

// This process's id.
uint32_t CurrentProcessId();

// Ends a process at once. Fails when it could not be signalled.
SysStatus TerminateProcessById(uint32_t id);

// Starts `nativePath` with `args` (argv[1..]) in `nativeWorkingDir` (empty: the current
// directory), without waiting for it. A path without "/" is looked up in PATH; a relative
// path with "/" is taken relative to `nativeWorkingDir`. The child inherits the
// environment. Fails ("posix_spawnp" and its error) when it could not be started.
SysStatus StartProcess(const std::string& nativePath, const std::vector<std::string>& args,
                       const std::string& nativeWorkingDir = "", uint32_t* id = nullptr);

// Sets a variable of this process's environment, inherited by processes started later.
SysStatus SetEnvironmentVariable(const std::string& name, const std::string& value);

// Waits for a process started by StartProcess to end; its exit code, or 128 + the signal
// that ended it; -1 when it cannot be waited for.
int WaitForProcess(uint32_t id);
// The same, giving up after about `timeoutMs`: then kProcessStillRunning, and the process
// runs on (it can be waited for again).
inline constexpr int kProcessStillRunning = -2;
int WaitForProcessFor(uint32_t id, uint32_t timeoutMs);

// What starting the file at `nativePath` would meet: no such file, a file this user may
// not run (no execute permission, or not a regular file), or one it may.
enum class ProgramFileState { Missing, NotRunnable, Runnable };
ProgramFileState CheckProgramFile(const std::string& nativePath);

// The full path of a program found in PATH; empty when there is none.
std::string FindProgramInPath(const std::string& name);

void SleepMilliseconds(uint32_t ms);

}  // namespace platform
