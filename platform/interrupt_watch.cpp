#include "platform/interrupt_watch.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>

namespace platform {

namespace {

// The handler may only do what is safe inside a signal: write one byte to a pipe.
int g_pipe[2] = {-1, -1};
struct sigaction g_previousInt, g_previousTerm, g_previousHup;
constexpr char kInterrupted = 'I';
constexpr char kHangup = 'H';
constexpr char kQuit = 'Q';

void OnSignal(int signal) {
    const int saved = errno;
    const char byte = signal == SIGHUP ? kHangup : kInterrupted;
    [[maybe_unused]] const ssize_t n = write(g_pipe[1], &byte, 1);
    errno = saved;
}

}  // namespace

InterruptWatch::InterruptWatch(std::function<void()> onInterrupt, std::function<void()> onHangup)
    : onInterrupt_(std::move(onInterrupt)), onHangup_(std::move(onHangup)) {
    if (pipe2(g_pipe, O_CLOEXEC) != 0) return;
    struct sigaction action {};
    action.sa_handler = &OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    if (sigaction(SIGINT, &action, &g_previousInt) != 0) {
        close(g_pipe[0]);
        close(g_pipe[1]);
        return;
    }
    sigaction(SIGTERM, &action, &g_previousTerm);
    if (onHangup_) sigaction(SIGHUP, &action, &g_previousHup);
    // A signal the process was started to ignore (a background job, nohup) stays ignored.
    if (g_previousInt.sa_handler == SIG_IGN) sigaction(SIGINT, &g_previousInt, nullptr);
    if (g_previousTerm.sa_handler == SIG_IGN) sigaction(SIGTERM, &g_previousTerm, nullptr);
    active_ = true;
    thread_ = std::thread([this] {
        for (;;) {
            char byte = 0;
            const ssize_t n = read(g_pipe[0], &byte, 1);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0 || byte == kQuit) return;
            if (byte == kHangup) {
                onHangup_();
            } else if (onInterrupt_) {
                onInterrupt_();
            }
        }
    });
}

InterruptWatch::~InterruptWatch() {
    if (!active_) return;
    sigaction(SIGINT, &g_previousInt, nullptr);
    sigaction(SIGTERM, &g_previousTerm, nullptr);
    if (onHangup_) sigaction(SIGHUP, &g_previousHup, nullptr);
    const char byte = kQuit;
    while (write(g_pipe[1], &byte, 1) < 0 && errno == EINTR) {
    }
    thread_.join();
    close(g_pipe[0]);
    close(g_pipe[1]);
    g_pipe[0] = g_pipe[1] = -1;
}

}  // namespace platform
