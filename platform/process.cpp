#include "platform/process.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "platform/spawn_argv.h"

extern char** environ;

namespace platform {
namespace {

std::string ReadLink(const std::string& path) {
    char buffer[PATH_MAX];
    ssize_t n = readlink(path.c_str(), buffer, sizeof(buffer) - 1);
    if (n <= 0) return std::string();
    return std::string(buffer, static_cast<size_t>(n));
}

// At most `cap` bytes (and a piece more) of a file of the process table.
std::string ReadSmallFile(const std::string& path, size_t cap = 1 << 16) {
    std::string data;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return data;
    char buffer[4096];
    size_t n;
    while (data.size() < cap && (n = std::fread(buffer, 1, sizeof(buffer), f)) > 0)
        data.append(buffer, n);
    std::fclose(f);
    return data;
}

}  // namespace

std::string GetExecutablePath() { return ReadLink("/proc/self/exe"); }

bool EnumerateProcesses(const std::function<void(const ProcessEntry&)>& visit) {
    return EnumerateProcessesIn("/proc", visit);
}

bool EnumerateProcessesIn(const std::string& procRoot,
                          const std::function<void(const ProcessEntry&)>& visit) {
    DIR* proc = opendir(procRoot.c_str());
    if (proc == nullptr) return false;
    while (dirent* e = readdir(proc)) {
        char* end = nullptr;
        unsigned long id = std::strtoul(e->d_name, &end, 10);
        if (end == e->d_name || *end != '\0' || id == 0 || id > UINT32_MAX) continue;
        const std::string base = procRoot + "/" + e->d_name;
        ProcessEntry entry;
        entry.id = static_cast<uint32_t>(id);
        entry.procDir = base;
        entry.image = ReadLink(base + "/exe");
        std::string args = ReadSmallFile(base + "/cmdline");
        while (!args.empty() && args.back() == '\0') args.pop_back();
        entry.firstArgument = args.substr(0, args.find('\0'));
        for (char& c : args) {
            if (c == '\0') c = ' ';
        }
        entry.commandLine = args;
        entry.name = ReadSmallFile(base + "/comm");
        if (!entry.name.empty() && entry.name.back() == '\n') entry.name.pop_back();
        visit(entry);
    }
    closedir(proc);
    return true;
}

std::string ProcessEnvironmentValue(const ProcessEntry& process, const std::string& name) {
    if (process.procDir.empty() || name.empty()) return std::string();
    // Environments beyond a megabyte are not what a game is started with.
    const std::string environment = ReadSmallFile(process.procDir + "/environ", 1 << 20);
    const std::string key = name + "=";
    for (size_t pos = 0; pos < environment.size();) {
        size_t end = environment.find('\0', pos);
        if (end == std::string::npos) end = environment.size();
        if (environment.compare(pos, key.size(), key) == 0)
            return environment.substr(pos + key.size(), end - pos - key.size());
        pos = end + 1;
    }
    return std::string();
}

std::string ProcessOwnerHome(const ProcessEntry& process) {
    if (process.procDir.empty()) return std::string();
    const std::string status = ReadSmallFile(process.procDir + "/status");
    const size_t line = status.find("\nUid:");
    if (line == std::string::npos) return std::string();
    char* end = nullptr;
    const unsigned long uid = std::strtoul(status.c_str() + line + 5, &end, 10);
    if (end == status.c_str() + line + 5) return std::string();
    passwd entry{};
    passwd* found = nullptr;
    std::vector<char> buffer(16384);
    if (getpwuid_r(static_cast<uid_t>(uid), &entry, buffer.data(), buffer.size(), &found) != 0 ||
        found == nullptr || found->pw_dir == nullptr)
        return std::string();
    return found->pw_dir;
}

uint32_t CurrentProcessId() { return static_cast<uint32_t>(getpid()); }

SysStatus TerminateProcessById(uint32_t id) {
    if (id == 0 || id > static_cast<uint32_t>(INT_MAX)) return SysStatus::Failed("kill", ESRCH);
    if (kill(static_cast<pid_t>(id), SIGKILL) != 0) return SysStatus::Failed("kill", errno);
    return SysStatus::Ok();
}

SysStatus StartProcess(const std::string& path, const std::vector<std::string>& args,
                       const std::string& workingDir, uint32_t* id) {
    std::vector<char*> argv = SpawnArgv(path, args);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (!workingDir.empty()) posix_spawn_file_actions_addchdir_np(&actions, workingDir.c_str());
    pid_t pid = 0;
    int rc = posix_spawnp(&pid, path.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return SysStatus::Failed("posix_spawnp", rc);
    if (id != nullptr) *id = static_cast<uint32_t>(pid);
    return SysStatus::Ok();
}

SysStatus SetEnvironmentVariable(const std::string& name, const std::string& value) {
    if (setenv(name.c_str(), value.c_str(), 1) != 0) return SysStatus::Failed("setenv", errno);
    return SysStatus::Ok();
}

namespace {

int ExitCodeOf(int status) {
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
}

}  // namespace

int WaitForProcess(uint32_t id) {
    int status = 0;
    pid_t r;
    do {
        r = waitpid(static_cast<pid_t>(id), &status, 0);
    } while (r < 0 && errno == EINTR);
    if (r < 0) return -1;
    return ExitCodeOf(status);
}

int WaitForProcessFor(uint32_t id, uint32_t timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (uint32_t pauseMs = 1;; pauseMs = std::min<uint32_t>(pauseMs * 2, 50)) {
        int status = 0;
        const pid_t r = waitpid(static_cast<pid_t>(id), &status, WNOHANG);
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) return -1;
        if (r > 0) return ExitCodeOf(status);
        if (std::chrono::steady_clock::now() >= deadline) return kProcessStillRunning;
        std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
    }
}

ProgramFileState CheckProgramFile(const std::string& nativePath) {
    struct stat st {};
    if (stat(nativePath.c_str(), &st) != 0)
        return errno == ENOENT || errno == ENOTDIR ? ProgramFileState::Missing
                                                   : ProgramFileState::NotRunnable;
    if (!S_ISREG(st.st_mode) || access(nativePath.c_str(), X_OK) != 0)
        return ProgramFileState::NotRunnable;
    return ProgramFileState::Runnable;
}

std::string FindProgramInPath(const std::string& name) {
    const char* path = std::getenv("PATH");
    if (path == nullptr || name.empty() || name.find('/') != std::string::npos)
        return std::string();
    std::string dirs = path;
    size_t pos = 0;
    while (pos <= dirs.size()) {
        size_t colon = dirs.find(':', pos);
        if (colon == std::string::npos) colon = dirs.size();
        const std::string dir = dirs.substr(pos, colon - pos);
        const std::string candidate = (dir.empty() ? "." : dir) + "/" + name;
        if (access(candidate.c_str(), X_OK) == 0) return candidate;
        pos = colon + 1;
    }
    return std::string();
}

void SleepMilliseconds(uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

}  // namespace platform
