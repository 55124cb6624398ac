// A listening TCP socket over IPv4 whose accept waits at most a given time, so that a
// server thread can look at its stop flag between waits.
//
// Thread safety: one listener belongs to one thread at a time.
#pragma once

#include <cstdint>
#include <string>

#include "platform/sys_status.h"
#include "platform/tcp_socket.h"

namespace platform {

class TcpListener {
  public:
    TcpListener() = default;
    ~TcpListener();
    TcpListener(const TcpListener&) = delete;
    TcpListener& operator=(const TcpListener&) = delete;

    // Listens on a dotted IPv4 `address` at `port` (0: any free one).
    SysStatus Listen(const std::string& address, uint16_t port);
    // Takes the next connection (non-blocking, as TcpSocket expects); ETIMEDOUT when none
    // came within the time.
    SysStatus Accept(uint32_t timeoutMs, TcpSocket& out);
    uint16_t port() const { return port_; }
    void Close();

  private:
    int fd_ = -1;
    uint16_t port_ = 0;
};

}  // namespace platform
