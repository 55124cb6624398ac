// Fetching bytes of the file from one source, one protocol each: HTTP and HTTPS mirrors,
// FTP mirrors, and peers (other engines' block servers, HTTP ranges only). A fetcher hands
// what arrives to a sink and says how the fetch ended; it decides nothing about pieces.
// Every wait ends at once when the fetch's interrupt fires.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "engine/held_map.h"
#include "engine/transfer/scheduler.h"
#include "platform/socket_interrupt.h"

namespace engine::transfer {

struct FetchOrder {
    std::string url;
    int64_t from = 0;
    int64_t end = -1;          // -1: the whole file, its length unknown (a probe)
    int64_t knownLength = -1;  // the file's length, when known: every answer must agree
    std::string referer;
    uint32_t noDataSeconds = 15;
    bool probe() const { return end < 0; }
};

// The transfer's side of a fetch.
class FetchSink {
  public:
    enum class Take {
        More,    // keep sending
        Enough,  // the piece is done or was cut short
        Wrong,   // the bytes failed their check
        Failed,  // they could not be kept (or the transfer stops)
    };
    virtual ~FetchSink() = default;
    // A probe learned the file's length: false when it is not acceptable.
    virtual bool OnLength(int64_t length) = 0;
    virtual Take OnData(int64_t offset, const char* data, size_t size) = 0;
};

struct FetchResult {
    FetchEnd end = FetchEnd::Failed;
    std::string detail;  // what failed, for the log
};

class Fetcher {
  public:
    virtual ~Fetcher() = default;
    virtual FetchResult Fetch(const FetchOrder& order, FetchSink& sink,
                              platform::SocketInterrupt& interrupt) = 0;
    // The file's length as the source tells it now; -1 when it does not.
    virtual int64_t Length(const FetchOrder& order, platform::SocketInterrupt& interrupt) = 0;
    // What a peer holds of the file (its held map, engine/held_map.h); none when it cannot be
    // had, or the source is no peer.
    virtual std::optional<HeldMap> Held(const FetchOrder& order,
                                        platform::SocketInterrupt& interrupt) {
        (void)order;
        (void)interrupt;
        return std::nullopt;
    }
};

// The most one ranged HTTP request asks for: the rest of a longer piece is asked for again
// (or by another connection), so that work moves between sources at request boundaries
// instead of by cutting connections short, and a broken connection costs at most one
// request.
inline constexpr int64_t kMaxRequestBytes = 16 << 20;

std::unique_ptr<Fetcher> NewHttpFetcher();
std::unique_ptr<Fetcher> NewPeerFetcher();
std::unique_ptr<Fetcher> NewFtpFetcher();

// What a transfer needs from the world besides its data file: the time and the sources'
// sockets. A test hands in its own to run a transfer against made-up sources and a clock
// it moves.
class TransferEnv {
  public:
    virtual ~TransferEnv() = default;
    virtual TimePoint Now() = 0;
    virtual std::unique_ptr<Fetcher> NewFetcher(SourceKind kind) = 0;
    static TransferEnv& Default();  // the steady clock, HTTP (libcurl) and FTP sockets
};

}  // namespace engine::transfer
