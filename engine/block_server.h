// The engine's local block server: while a task runs, other engines may fetch the blocks it
// already holds with HTTP range requests. Only files that have been published (those a
// lookup named) are served, each under "/" + its key (the file's MD5 in lower-case hex, or
// the hex MD5 of its first URL when the file's digest is not known), and only bytes that the
// task holds and has checked (HeldReader); everything else is refused. One server per
// process.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace engine {

// Reads bytes of a published file: true with `size` bytes copied when every one is held and
// checked (a transfer's ReadHeld).
using HeldReader = std::function<bool(int64_t offset, size_t size, char* out)>;

class BlockServer {
  public:
    BlockServer();
    ~BlockServer();  // stops serving and waits for its threads
    BlockServer(const BlockServer&) = delete;
    BlockServer& operator=(const BlockServer&) = delete;

    // Listens on `address` ("127.0.0.1", or a local network address) at `port` (0: any
    // free one). False when it cannot.
    bool Start(const std::string& address, uint16_t port = 0);
    void Stop();
    uint16_t port() const;  // 0 when not running

    // Connections served at once (more are answered 503 and closed), the longest wait for
    // each read from or write to a peer, and the longest time one answer may take: a peer
    // that reads slowly is cut off then (an answer holds at most 16 MiB). Set before Start.
    static constexpr size_t kDefaultMaxConnections = 16;
    static constexpr uint32_t kDefaultIoTimeoutMs = 10000;
    static constexpr uint32_t kDefaultAnswerDeadlineMs = 60000;
    void SetLimits(size_t maxConnections, uint32_t ioTimeoutMs,
                   uint32_t answerDeadlineMs = kDefaultAnswerDeadlineMs);

    // Serves a file of `length` bytes under `key` until it is withdrawn. Each request
    // carries one range; the server reads it through `reader` in bounded chunks, on its
    // own threads.
    void Publish(const std::string& key, int64_t length, HeldReader reader);
    // Returns once no read of that file is under way: the reader is not called again.
    void Withdraw(const std::string& key);

  private:
    struct State;
    std::unique_ptr<State> state_;
};

// The key a file is published under (see above).
std::string BlockKey(const std::string& md5, const std::string& firstUrl);

}  // namespace engine
