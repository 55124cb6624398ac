// A TCP connection over IPv4 in which every step has a time-out: connecting, sending and
// each receive. The engine's FTP client uses it for its control and data connections.
//
// Errors: SysStatus with the failed step ("resolve", "connect", "send", "recv", "poll")
// and its errno; a step that runs out of time fails with ETIMEDOUT. Name resolution
// itself (getaddrinfo) has no time-out of its own; dotted addresses skip it.
//
// Thread safety: one socket belongs to one thread at a time; only its interrupt
// (SetInterrupt) may be used from another thread, to end its waits at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/socket_interrupt.h"
#include "platform/sys_status.h"

namespace platform {

class TcpSocket {
  public:
    TcpSocket() = default;
    ~TcpSocket();
    TcpSocket(TcpSocket&& other) noexcept;
    TcpSocket& operator=(TcpSocket&& other) noexcept;
    TcpSocket(const TcpSocket&) = delete;
    TcpSocket& operator=(const TcpSocket&) = delete;

    // Connects to `host` (dotted IPv4 address or a name) at `port`; an open connection is
    // closed first.
    SysStatus Connect(const std::string& host, uint16_t port, uint32_t timeoutMs);
    // Sends every byte of `data`; a peer that stops reading runs into the time-out.
    SysStatus SendAll(std::string_view data, uint32_t timeoutMs);
    // Receives at most `size` bytes; `got` is 0 when the peer has closed its side.
    SysStatus Receive(char* data, size_t size, uint32_t timeoutMs, size_t& got);

    // Every connection this socket opens from now on is shut down when `interrupt` fires
    // (null: none); a connect after the interrupt fails at once with ECANCELED. The
    // interrupt must outlive the socket's connections.
    void SetInterrupt(SocketInterrupt* interrupt) { interrupt_ = interrupt; }

    bool IsOpen() const { return fd_ >= 0; }
    void Close();
    // The peer's address as a dotted IPv4 text; empty when not connected.
    std::string PeerAddress() const;

    // Waits until data (or the peer's close) can be read from `a` or `b` (either may be
    // closed); sets the flags of those that can. False when the time ran out first.
    static bool WaitReadable(const TcpSocket& a, const TcpSocket& b, uint32_t timeoutMs,
                             bool& aReady, bool& bReady);

  private:
    friend class TcpListener;  // hands over accepted connections
    int fd_ = -1;
    SocketInterrupt* interrupt_ = nullptr;
};

}  // namespace platform
