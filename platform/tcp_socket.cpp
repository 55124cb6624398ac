#include "platform/tcp_socket.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <utility>

#include "platform/poll_wait.h"

namespace platform {
namespace {

// Waits for `events` on one descriptor; ETIMEDOUT when the deadline passes first.
SysStatus WaitFor(int fd, short events, const Deadline& deadline, const char* step) {
    pollfd p{fd, events, 0};
    const int n = PollFor(&p, 1, deadline);
    if (n < 0) return SysStatus::Failed("poll", errno);
    if (n == 0) return SysStatus::Failed(step, ETIMEDOUT);
    return SysStatus::Ok();
}

SysStatus Resolve(const std::string& host, in_addr& address) {
    if (inet_pton(AF_INET, host.c_str(), &address) == 1) return SysStatus::Ok();
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) {
        return SysStatus::Failed("resolve", EHOSTUNREACH);
    }
    address = reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr;
    freeaddrinfo(found);
    return SysStatus::Ok();
}

}  // namespace

TcpSocket::~TcpSocket() { Close(); }

TcpSocket::TcpSocket(TcpSocket&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), interrupt_(std::exchange(other.interrupt_, nullptr)) {}

TcpSocket& TcpSocket::operator=(TcpSocket&& other) noexcept {
    if (this != &other) {
        Close();
        fd_ = std::exchange(other.fd_, -1);
        interrupt_ = std::exchange(other.interrupt_, nullptr);
    }
    return *this;
}

void TcpSocket::Close() {
    if (fd_ >= 0) {
        if (interrupt_) interrupt_->Release(fd_);
        close(fd_);
    }
    fd_ = -1;
}

SysStatus TcpSocket::Connect(const std::string& host, uint16_t port, uint32_t timeoutMs) {
    Close();
    const Deadline deadline(timeoutMs);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    if (SysStatus s = Resolve(host, address.sin_addr); !s) return s;
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return SysStatus::Failed("socket", errno);
    if (interrupt_ && !interrupt_->Adopt(fd)) {
        close(fd);
        return SysStatus::Failed("connect", ECANCELED);
    }
    fd_ = fd;
    if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        if (errno != EINPROGRESS) {
            const int e = errno;
            Close();
            return SysStatus::Failed("connect", e);
        }
        if (SysStatus s = WaitFor(fd, POLLOUT, deadline, "connect"); !s) {
            Close();
            return s;
        }
        int error = 0;
        socklen_t length = sizeof error;
        if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) error = errno;
        if (error != 0) {
            Close();
            return SysStatus::Failed("connect", error);
        }
    }
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return SysStatus::Ok();
}

SysStatus TcpSocket::SendAll(std::string_view data, uint32_t timeoutMs) {
    if (fd_ < 0) return SysStatus::Failed("send", EBADF);
    const Deadline deadline(timeoutMs);
    while (!data.empty()) {
        const ssize_t n = send(fd_, data.data(), data.size(), MSG_NOSIGNAL);
        if (n >= 0) {
            data.remove_prefix(static_cast<size_t>(n));
            continue;
        }
        if (errno == EINTR) continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) return SysStatus::Failed("send", errno);
        if (SysStatus s = WaitFor(fd_, POLLOUT, deadline, "send"); !s) return s;
    }
    return SysStatus::Ok();
}

SysStatus TcpSocket::Receive(char* data, size_t size, uint32_t timeoutMs, size_t& got) {
    got = 0;
    if (fd_ < 0) return SysStatus::Failed("recv", EBADF);
    const Deadline deadline(timeoutMs);
    for (;;) {
        const ssize_t n = recv(fd_, data, size, 0);
        if (n >= 0) {
            got = static_cast<size_t>(n);
            return SysStatus::Ok();
        }
        if (errno == EINTR) continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) return SysStatus::Failed("recv", errno);
        if (SysStatus s = WaitFor(fd_, POLLIN, deadline, "recv"); !s) return s;
    }
}

std::string TcpSocket::PeerAddress() const {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    if (fd_ < 0 || getpeername(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
        address.sin_family != AF_INET) {
        return {};
    }
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &address.sin_addr, text, sizeof text);
    return text;
}

bool TcpSocket::WaitReadable(const TcpSocket& a, const TcpSocket& b, uint32_t timeoutMs,
                             bool& aReady, bool& bReady) {
    aReady = bReady = false;
    pollfd fds[2] = {{a.fd_, POLLIN, 0}, {b.fd_, POLLIN, 0}};  // -1 is skipped by poll
    if (PollFor(fds, 2, Deadline(timeoutMs)) <= 0) return false;
    aReady = a.fd_ >= 0 && fds[0].revents != 0;
    bReady = b.fd_ >= 0 && fds[1].revents != 0;
    return aReady || bReady;
}

}  // namespace platform
