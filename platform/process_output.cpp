#include "platform/process_output.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "platform/spawn_argv.h"

extern char** environ;

namespace platform {
namespace {

int WaitChild(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    return status;
}

}  // namespace

RunOutcome RunForOutput(const std::string& path, const std::vector<std::string>& args,
                        uint32_t timeoutMs, size_t maxOutput, std::string& output, int& exitCode,
                        const std::string& workingDir) {
    output.clear();
    exitCode = -1;
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) return RunOutcome::StartFailed;

    std::vector<char*> argv = SpawnArgv(path, args);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (!workingDir.empty()) posix_spawn_file_actions_addchdir_np(&actions, workingDir.c_str());
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    // A path with "/" is run as it is: never look a candidate up in PATH.
    const int rc = posix_spawn(&pid, path.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    if (rc != 0) {
        close(pipeFds[0]);
        return RunOutcome::StartFailed;
    }

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    bool killed = false;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            killed = true;
            break;
        }
        pollfd p{pipeFds[0], POLLIN, 0};
        const int ready = poll(&p, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) continue;  // the deadline is checked above
        char buffer[4096];
        const ssize_t n = read(pipeFds[0], buffer, sizeof(buffer));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;  // end of output: the program closed it or ended
        if (output.size() + static_cast<size_t>(n) > maxOutput) {
            killed = true;
            break;
        }
        output.append(buffer, static_cast<size_t>(n));
    }
    close(pipeFds[0]);
    if (killed) kill(pid, SIGKILL);
    // The output closed: the program ends now, or it is killed after the time-out rest.
    int status = -1;
    if (!killed) {
        for (;;) {
            const pid_t r = waitpid(pid, &status, WNOHANG);
            if (r == pid) break;
            if (r < 0 && errno != EINTR) return RunOutcome::Crashed;
            if (std::chrono::steady_clock::now() >= deadline) {
                kill(pid, SIGKILL);
                killed = true;
                status = WaitChild(pid);
                break;
            }
            poll(nullptr, 0, 10);
        }
    } else {
        status = WaitChild(pid);
    }
    if (killed) return RunOutcome::Killed;
    if (WIFEXITED(status)) {
        exitCode = WEXITSTATUS(status);
        // posix_spawn reports a failed exec as exit code 127 of the child.
        return exitCode == 127 && output.empty() ? RunOutcome::StartFailed : RunOutcome::Exited;
    }
    return RunOutcome::Crashed;
}

}  // namespace platform
