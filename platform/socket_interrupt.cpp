#include "platform/socket_interrupt.h"

#include <sys/socket.h>

#include <algorithm>

namespace platform {

void SocketInterrupt::Interrupt() {
    std::lock_guard<std::mutex> guard(lock_);
    interrupted_ = true;
    // Under the lock: a socket is released (and closed) only after it left the list, so
    // the number shut down here is never one reused by another file.
    for (int fd : sockets_) shutdown(fd, SHUT_RDWR);
}

bool SocketInterrupt::interrupted() const {
    std::lock_guard<std::mutex> guard(lock_);
    return interrupted_;
}

bool SocketInterrupt::Adopt(int socket) {
    std::lock_guard<std::mutex> guard(lock_);
    if (interrupted_) return false;
    sockets_.push_back(socket);
    return true;
}

void SocketInterrupt::Release(int socket) {
    std::lock_guard<std::mutex> guard(lock_);
    sockets_.erase(std::remove(sockets_.begin(), sockets_.end(), socket), sockets_.end());
}

}  // namespace platform
