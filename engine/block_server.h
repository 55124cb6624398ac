// The engine's local block server: other engines fetch the blocks a task holds, and the
// files it has finished while they are seeded, with HTTP range requests. Only files that
// have been published are served, each under "/" + its key (the file's MD5 in lower-case
// hex, or the hex MD5 of its first URL when the file's digest is not known), and only bytes
// that have been checked (HeldReader); everything else is refused. "/KEY?held" answers the
// held map (engine/held_map.h), so that a peer asks only for what is there. Uploads share
// one rate (UploadLimiter) and a number of connections. One server per process.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/transfer/piece_map.h"

namespace engine {

// Reads bytes of a published file: true with `size` bytes copied when every one is held and
// checked (a transfer's ReadHeld).
using HeldReader = std::function<bool(int64_t offset, size_t size, char* out)>;
// The checked bytes of a published file, as ranges (for its held map).
using HeldRanges = std::function<std::vector<transfer::ByteRange>()>;

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

    // Uploads at once (answers that carry bytes of a file; more are answered 503; a few
    // more connections are let in for request heads and held maps), the longest wait for
    // each read from or write to a peer, and the longest time one answer may take: a peer
    // that reads slowly is cut off then (an answer holds at most 16 MiB, and no more than
    // half its time allows at the upload rate).
    static constexpr size_t kDefaultUploads = 8;
    static constexpr uint32_t kDefaultIoTimeoutMs = 10000;
    static constexpr uint32_t kDefaultAnswerDeadlineMs = 60000;
    void SetLimits(size_t uploads, uint32_t ioTimeoutMs,
                   uint32_t answerDeadlineMs = kDefaultAnswerDeadlineMs);
    // The upload rate of all answers together (0: none) and the uploads at once (0: keep);
    // takes effect for the next chunk sent.
    void SetUploadLimit(uint64_t bytesPerSecond, size_t uploads);

    // Serves a file of `length` bytes under `key` until it is withdrawn, replacing what was
    // published under it. Each request carries one range; the server reads it through
    // `reader` in bounded chunks, on its own threads; `ranges` gives its held map.
    void Publish(const std::string& key, int64_t length, HeldReader reader, HeldRanges ranges);
    // Returns once no read of that file is under way: neither function is called again.
    void Withdraw(const std::string& key);
    // The file's checked bytes now; none when it is not published.
    std::optional<std::vector<transfer::ByteRange>> Held(const std::string& key);

  private:
    struct State;
    std::unique_ptr<State> state_;
};

// The key a file is published under (see above).
std::string BlockKey(const std::string& md5, const std::string& firstUrl);

}  // namespace engine
