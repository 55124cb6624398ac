#include "platform/tcp_listener.h"

#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace platform {

TcpListener::~TcpListener() { Close(); }

void TcpListener::Close() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
    port_ = 0;
}

SysStatus TcpListener::Listen(const std::string& address, uint16_t port) {
    Close();
    sockaddr_in where{};
    where.sin_family = AF_INET;
    where.sin_port = htons(port);
    if (inet_pton(AF_INET, address.c_str(), &where.sin_addr) != 1)
        return SysStatus::Failed("resolve", EINVAL);
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0) return SysStatus::Failed("socket", errno);
    const int yes = 1;
    setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    if (bind(fd_, reinterpret_cast<sockaddr*>(&where), sizeof where) != 0 || listen(fd_, 64) != 0) {
        const int error = errno;
        Close();
        return SysStatus::Failed("listen", error);
    }
    sockaddr_in bound{};
    socklen_t length = sizeof bound;
    getsockname(fd_, reinterpret_cast<sockaddr*>(&bound), &length);
    port_ = ntohs(bound.sin_port);
    return SysStatus::Ok();
}

SysStatus TcpListener::Accept(uint32_t timeoutMs, TcpSocket& out) {
    if (fd_ < 0) return SysStatus::Failed("accept", EBADF);
    pollfd waiting{fd_, POLLIN, 0};
    const int ready = poll(&waiting, 1, static_cast<int>(timeoutMs));
    if (ready < 0) return SysStatus::Failed("poll", errno);
    if (ready == 0) return SysStatus::Failed("accept", ETIMEDOUT);
    const int fd = accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) return SysStatus::Failed("accept", errno);
    out.Close();
    out.fd_ = fd;
    return SysStatus::Ok();
}

}  // namespace platform
