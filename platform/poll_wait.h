// Time-limited poll() for the waits of events and message queues.
#pragma once

#include <poll.h>

#include <chrono>
#include <cstdint>

namespace platform {

// A point in time after which a wait gives up; kInfinite (0xFFFFFFFF) never expires.
class Deadline {
  public:
    explicit Deadline(uint32_t timeoutMs);
    bool Expired() const;
    // Milliseconds left, rounded up, for poll(): -1 without limit.
    int RemainingForPoll() const;

  private:
    bool infinite_;
    std::chrono::steady_clock::time_point end_;
};

// poll() until the deadline, retrying on EINTR. Returns the number of ready descriptors,
// 0 when the deadline passed (or a wake-up came with nothing ready).
int PollFor(pollfd* fds, nfds_t count, const Deadline& deadline);

}  // namespace platform
