// Events that threads signal and wait on: the counterpart of the system's manual-reset and
// auto-reset event objects.
#pragma once

#include <cstdint>
#include <mutex>

namespace platform {

// Time-out value for an unlimited wait.
inline constexpr uint32_t kInfinite = 0xFFFFFFFF;

// A manual-reset event stays signalled until `Reset`, releasing every waiter; an auto-reset
// event releases exactly one waiter per `Set` and becomes unsignalled again when it does.
//
// Thread safety: every operation may be called from any thread at the same time. The object
// must outlive every thread that waits on it.
// Failure: the constructor throws std::system_error when the kernel refuses a descriptor
// (out of descriptors); the operations themselves do not fail.
class Event {
  public:
    Event(bool manualReset, bool initiallySignalled);
    ~Event();
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    void Set();
    void Reset();

    // Waits until the event is signalled or `timeoutMs` have passed (kInfinite: no limit).
    // True when signalled; an auto-reset event is consumed by a successful wait.
    bool Wait(uint32_t timeoutMs = kInfinite);

    // True and (auto-reset) consumed when signalled at this instant; never blocks.
    bool TryWait();

    // A descriptor that polls readable while the event is signalled, so that one wait can
    // cover an event and a message queue. Owned by the event; do not read or close it.
    int PollDescriptor() const { return fd_; }

  private:
    const bool manualReset_;
    std::mutex mutex_;
    bool signalled_ = false;
    int fd_ = -1;
};

}  // namespace platform
