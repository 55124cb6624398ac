#include "platform/thread_queue.h"

#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>

namespace platform::detail {
namespace {

int CheckedFd(int fd, const char* what) {
    if (fd < 0) throw std::system_error(errno, std::generic_category(), what);
    return fd;
}

}  // namespace

ThreadQueue::ThreadQueue(uint32_t id) : id_(id) {
    syncFd_ = CheckedFd(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC), "eventfd");
    postedFd_ = CheckedFd(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC), "eventfd");
    timerFd_ = CheckedFd(timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC), "timerfd");
    epollFd_ = CheckedFd(epoll_create1(EPOLL_CLOEXEC), "epoll");
    for (int fd : {syncFd_, postedFd_, timerFd_}) {
        epoll_event ev{};
        ev.events = EPOLLIN;
        ev.data.fd = fd;
        epoll_ctl(epollFd_, EPOLL_CTL_ADD, fd, &ev);
    }
}

ThreadQueue::~ThreadQueue() {
    for (int fd : {epollFd_, timerFd_, postedFd_, syncFd_}) close(fd);
}

void ThreadQueue::WakeLocked(int fd) {
    const uint64_t one = 1;
    [[maybe_unused]] ssize_t n = write(fd, &one, sizeof(one));
}

void ThreadQueue::DrainLocked(int fd) {
    uint64_t count;
    [[maybe_unused]] ssize_t n = read(fd, &count, sizeof(count));
}

// Keeps each descriptor readable exactly while its kind of work is pending, so that a
// watcher never spins on a descriptor with nothing behind it.
void ThreadQueue::DrainIdleLocked() {
    if (sends_.empty() && !replyPending_) DrainLocked(syncFd_);
    if (posted_.empty()) DrainLocked(postedFd_);
}

bool ThreadQueue::Post(const Message& message) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (dead_) return false;
    posted_.push_back(message);
    WakeLocked(postedFd_);
    return true;
}

bool ThreadQueue::EnqueueSend(PendingSend* send) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (dead_) return false;
    sends_.push_back(send);
    WakeLocked(syncFd_);
    return true;
}

void ThreadQueue::Complete(PendingSend* send, bool delivered, intptr_t result) {
    // Keep the sender's queue alive past the moment the sender may return.
    std::shared_ptr<ThreadQueue> sender = send->sender;
    std::lock_guard<std::mutex> lock(sender->mutex_);
    send->delivered = delivered;
    send->result = result;
    send->done = true;
    sender->replyPending_ = true;
    sender->WakeLocked(sender->syncFd_);
}

PendingSend* ThreadQueue::PopSend() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (sends_.empty()) return nullptr;
    PendingSend* send = sends_.front();
    sends_.pop_front();
    DrainIdleLocked();
    return send;
}

bool ThreadQueue::IsDone(const PendingSend& send) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!send.done) return false;
    replyPending_ = false;
    DrainIdleLocked();
    return true;
}

bool ThreadQueue::PopInput(Message& out, bool remove) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!posted_.empty()) {
        out = posted_.front();
        if (remove) posted_.pop_front();
        DrainIdleLocked();
        return true;
    }
    DrainIdleLocked();
    const auto now = Clock::now();
    auto due = std::min_element(timers_.begin(), timers_.end(),
                                [](const Timer& a, const Timer& b) { return a.due < b.due; });
    if (due == timers_.end() || due->due > now) return false;
    out = Message{due->window, WM_TIMER, due->id, 0};
    if (remove) {
        // A timer that fell behind restarts from now rather than firing in a burst.
        due->due = now + due->period;
        ArmTimerLocked();
    }
    return true;
}

bool ThreadQueue::HasInput() {
    Message ignored;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!sends_.empty()) return true;
    }
    return PopInput(ignored, false);
}

bool ThreadQueue::IsDead() {
    std::lock_guard<std::mutex> lock(mutex_);
    return dead_;
}

void ThreadQueue::ArmTimerLocked() {
    DrainLocked(timerFd_);
    itimerspec arm{};
    if (!timers_.empty()) {
        auto next =
            std::min_element(timers_.begin(), timers_.end(), [](const Timer& a, const Timer& b) {
                return a.due < b.due;
            })->due;
        auto ns =
            std::chrono::duration_cast<std::chrono::nanoseconds>(next.time_since_epoch()).count();
        // steady_clock is CLOCK_MONOTONIC on Linux; 0 would disarm, so never ask for it.
        if (ns <= 0) ns = 1;
        arm.it_value.tv_sec = ns / 1000000000;
        arm.it_value.tv_nsec = ns % 1000000000;
    }
    timerfd_settime(timerFd_, TFD_TIMER_ABSTIME, &arm, nullptr);
}

void ThreadQueue::WaitSync(int extraFd) {
    pollfd p[2] = {{syncFd_, POLLIN, 0}, {extraFd, POLLIN, 0}};
    while (poll(p, extraFd >= 0 ? 2 : 1, -1) < 0 && errno == EINTR) {
    }
}

bool ThreadQueue::WaitAny(int extraFd, int timeoutForPoll) {
    pollfd p[2] = {{epollFd_, POLLIN, 0}, {extraFd, POLLIN, 0}};
    const nfds_t count = extraFd >= 0 ? 2 : 1;
    int n;
    while ((n = poll(p, count, timeoutForPoll)) < 0 && errno == EINTR) {
    }
    return n > 0 && count == 2 && (p[1].revents & POLLIN) != 0;
}

bool ThreadQueue::SetTimer(WindowHandle window, uintptr_t id, uint32_t periodMs) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (dead_ || periodMs == 0) return false;
    const std::chrono::milliseconds period(periodMs);
    auto it = std::find_if(timers_.begin(), timers_.end(),
                           [&](const Timer& t) { return t.window == window && t.id == id; });
    if (it == timers_.end()) {
        timers_.push_back(Timer{window, id, period, Clock::now() + period});
    } else {
        it->period = period;
        it->due = Clock::now() + period;
    }
    ArmTimerLocked();
    return true;
}

bool ThreadQueue::KillTimer(WindowHandle window, uintptr_t id) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = std::find_if(timers_.begin(), timers_.end(),
                           [&](const Timer& t) { return t.window == window && t.id == id; });
    if (it == timers_.end()) return false;
    timers_.erase(it);
    ArmTimerLocked();
    return true;
}

void ThreadQueue::KillTimersOf(WindowHandle window) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::erase_if(timers_, [&](const Timer& t) { return t.window == window; });
    ArmTimerLocked();
}

std::vector<PendingSend*> ThreadQueue::Shutdown() {
    std::lock_guard<std::mutex> lock(mutex_);
    dead_ = true;
    std::vector<PendingSend*> waiting(sends_.begin(), sends_.end());
    sends_.clear();
    posted_.clear();
    timers_.clear();
    ArmTimerLocked();
    DrainIdleLocked();
    return waiting;
}

}  // namespace platform::detail
