// Ctrl+C on a terminal turned into a call on an ordinary thread, so that a long operation
// can be asked to stop and waited for instead of the process dying in the middle of it.
#pragma once

#include <functional>
#include <thread>

namespace platform {

// While the object lives, SIGINT (and SIGTERM) no longer end the process: each calls
// `onInterrupt` on a thread of the watch. The previous handling comes back with the
// destructor. A signal that the process was started to ignore stays ignored. One watch
// at a time per process.
// With `onHangup`, SIGHUP (a daemon's "read your configuration again") calls it the same
// way; without, SIGHUP keeps its handling.
// Failure: when no pipe or handler can be had, the signals keep their previous handling
// (active() is false).
class InterruptWatch {
  public:
    explicit InterruptWatch(std::function<void()> onInterrupt,
                            std::function<void()> onHangup = nullptr);
    ~InterruptWatch();
    InterruptWatch(const InterruptWatch&) = delete;
    InterruptWatch& operator=(const InterruptWatch&) = delete;

    bool active() const { return active_; }

  private:
    std::function<void()> onInterrupt_;
    std::function<void()> onHangup_;
    std::thread thread_;
    bool active_ = false;
};

}  // namespace platform
