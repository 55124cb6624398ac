// The message queue of one thread, used by the message layer (messages.cpp) only.
//
// Three descriptors wake the owner: `sync` for incoming sends and for the reply to the
// owner's own send, `posted` for posted messages and `timer` for the next due timer. Each
// is readable exactly while its kind of work is pending (the owner drains a descriptor
// under the lock when it finds that kind empty). An epoll descriptor over the three is
// what outside main loops watch.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/messages.h"

namespace platform::detail {

class ThreadQueue;

// A send in flight. Lives on the sender's stack until `done`; `done`, `delivered` and
// `result` are guarded by the sender's queue mutex.
struct PendingSend {
    Message message;
    std::shared_ptr<ThreadQueue> sender;
    intptr_t result = 0;
    bool delivered = false;
    bool done = false;
};

class ThreadQueue {
  public:
    explicit ThreadQueue(uint32_t id);
    ~ThreadQueue();
    ThreadQueue(const ThreadQueue&) = delete;
    ThreadQueue& operator=(const ThreadQueue&) = delete;

    uint32_t Id() const { return id_; }
    int Descriptor() const { return epollFd_; }

    // Any thread. False once the queue has shut down.
    bool Post(const Message& message);
    bool EnqueueSend(PendingSend* send);
    // Any thread: hands the result to the waiting sender and wakes it. `send` must not be
    // touched afterwards (the sender may return at once).
    static void Complete(PendingSend* send, bool delivered, intptr_t result);

    // Owner thread only from here on.
    PendingSend* PopSend();
    bool IsDone(const PendingSend& send);
    // A posted message, else a due timer's WM_TIMER.
    bool PopInput(Message& out, bool remove);
    bool HasInput();
    bool IsDead();
    // Blocks until an incoming send or a reply may be ready, or `extraFd` (if >= 0) is
    // readable.
    void WaitSync(int extraFd);
    // Blocks until any input may be ready, `extraFd` (if >= 0) is readable, or the
    // deadline. Returns true when `extraFd` was readable.
    bool WaitAny(int extraFd, int timeoutForPoll);

    bool SetTimer(WindowHandle window, uintptr_t id, uint32_t periodMs);
    bool KillTimer(WindowHandle window, uintptr_t id);
    void KillTimersOf(WindowHandle window);

    // Marks the queue dead and drops its posted messages and timers; returns the sends
    // that were waiting, for the caller to fail.
    std::vector<PendingSend*> Shutdown();

  private:
    using Clock = std::chrono::steady_clock;
    struct Timer {
        WindowHandle window;
        uintptr_t id;
        std::chrono::milliseconds period;
        Clock::time_point due;
    };

    void WakeLocked(int fd);
    void DrainLocked(int fd);
    void DrainIdleLocked();
    void ArmTimerLocked();

    const uint32_t id_;
    std::mutex mutex_;
    std::deque<Message> posted_;
    std::deque<PendingSend*> sends_;
    std::vector<Timer> timers_;
    bool dead_ = false;
    bool replyPending_ = false;
    int syncFd_ = -1;
    int postedFd_ = -1;
    int timerFd_ = -1;
    int epollFd_ = -1;
};

}  // namespace platform::detail
