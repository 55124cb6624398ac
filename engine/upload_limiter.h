// The engine's upload rate: a token bucket shared by every answer of the block server. A
// sender reserves each chunk before it writes it and waits until the time it is given, so
// that at most `burst` + rate x seconds bytes leave in any stretch of time, however many
// connections share the rate. Without a clock of its own: the caller tells the time, so a
// test can run it on made-up times.
//
// Thread safety: none; its owner guards it.
#pragma once

#include <chrono>
#include <cstdint>

namespace engine {

class UploadLimiter {
  public:
    using Clock = std::chrono::steady_clock;

    // `bytesPerSecond` 0: no limit. `burst`: what may leave at once after a quiet while.
    explicit UploadLimiter(uint64_t bytesPerSecond = 0, uint64_t burst = 0);
    void SetRate(uint64_t bytesPerSecond, uint64_t burst);
    uint64_t rate() const { return rate_; }

    // Takes `bytes` from the allowance at `now`; returns when they may be sent (`now` when
    // at once). Reservations are served in the order they are made.
    Clock::time_point Reserve(uint64_t bytes, Clock::time_point now);

  private:
    uint64_t rate_ = 0;
    double burst_ = 0;
    double tokens_ = 0;  // negative: bytes promised beyond the allowance
    Clock::time_point at_{};
    bool started_ = false;
};

}  // namespace engine
