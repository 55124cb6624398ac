// Ends the socket waits of one transfer from another thread at once: the sockets it has
// adopted are shut down, so a wait on a silent server (a connect, a receive, a send)
// returns within milliseconds instead of at its time-out. Once interrupted it stays so, and
// a socket offered to it afterwards is refused, so that a transfer started with it ends at
// once. Used by HTTP transfers (HttpRequest::interrupt) and by TcpSocket.
#pragma once

#include <mutex>
#include <vector>

namespace platform {

class SocketInterrupt {
  public:
    void Interrupt();
    bool interrupted() const;

    // For the socket's owner: false when the socket must not be used (already interrupted).
    bool Adopt(int socket);
    // Before the socket is closed, so that its number is never shut down once reused.
    void Release(int socket);

  private:
    mutable std::mutex lock_;
    bool interrupted_ = false;
    std::vector<int> sockets_;
};

}  // namespace platform
