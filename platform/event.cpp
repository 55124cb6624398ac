#include "platform/event.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "platform/poll_wait.h"

namespace platform {

// The signalled flag under the mutex is the truth; the eventfd only mirrors it so that
// poll() can wait for it together with other descriptors.
Event::Event(bool manualReset, bool initiallySignalled) : manualReset_(manualReset) {
    fd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (fd_ < 0) throw std::system_error(errno, std::generic_category(), "eventfd");
    if (initiallySignalled) Set();
}

Event::~Event() { close(fd_); }

void Event::Set() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (signalled_) return;
    signalled_ = true;
    const uint64_t one = 1;
    [[maybe_unused]] ssize_t n = write(fd_, &one, sizeof(one));
}

void Event::Reset() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!signalled_) return;
    signalled_ = false;
    uint64_t count;
    [[maybe_unused]] ssize_t n = read(fd_, &count, sizeof(count));
}

bool Event::TryWait() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!signalled_) return false;
    if (!manualReset_) {
        signalled_ = false;
        uint64_t count;
        [[maybe_unused]] ssize_t n = read(fd_, &count, sizeof(count));
    }
    return true;
}

bool Event::Wait(uint32_t timeoutMs) {
    Deadline deadline(timeoutMs);
    for (;;) {
        if (TryWait()) return true;
        // Another waiter may take an auto-reset event between poll() and TryWait(): then
        // the descriptor is drained again and this waiter polls on.
        pollfd p{fd_, POLLIN, 0};
        if (PollFor(&p, 1, deadline) == 0 && deadline.Expired()) return TryWait();
    }
}

}  // namespace platform
