#include "platform/poll_wait.h"

#include <cerrno>

namespace platform {

Deadline::Deadline(uint32_t timeoutMs)
    : infinite_(timeoutMs == 0xFFFFFFFF),
      end_(std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs)) {}

bool Deadline::Expired() const { return !infinite_ && std::chrono::steady_clock::now() >= end_; }

int Deadline::RemainingForPoll() const {
    if (infinite_) return -1;
    const auto left = end_ - std::chrono::steady_clock::now();
    if (left <= std::chrono::steady_clock::duration::zero()) return 0;
    // Round up so that a wait never returns a fraction of a millisecond early.
    return static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(left).count());
}

int PollFor(pollfd* fds, nfds_t count, const Deadline& deadline) {
    for (;;) {
        const int n = poll(fds, count, deadline.RemainingForPoll());
        if (n >= 0) return n;
        if (errno != EINTR) return 0;
    }
}

}  // namespace platform
