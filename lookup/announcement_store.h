// Where the lookup service keeps the engines' announcements: soft state that expires
// unless the engine announces again. Two stores answer alike behind this interface: in
// memory (memory_store.h) and in Redis (redis_store.h), which several services share.
//
// An announcement is one engine (address and port) serving one file (key). A file is
// known by its digest when the announcement carries one, else by its URL; "holders" are
// announcements with held > 0, the only ones a lookup lists.
//
// Errors: every call answers a StoreStatus; Unavailable when the store cannot be reached
// in time (the service then answers 503). Thread-safe: the service calls from many threads.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "lookup/protocol.h"

namespace lookup {

enum class StoreStatus {
    Ok,
    TooMany,      // the address has as many announcements as it may have
    Unavailable,  // the store did not answer
};

struct StoreCounts {
    uint64_t peers = 0;  // engines (address and port) with a live announcement
    uint64_t files = 0;  // files (digest, else URL) with a live announcement
};

class AnnouncementStore {
  public:
    virtual ~AnnouncementStore() = default;
    virtual const char* kind() const = 0;  // "memory", "redis"

    // Adds the announcement or refreshes the one of the same address, port and key
    // (replacing what it said); it lives for `ttl` from now. A new one is refused with
    // TooMany when its address already has the store's maximum.
    virtual StoreStatus Announce(const Announcement& announcement,
                                 std::chrono::milliseconds ttl) = 0;
    // Removes the address's announcement at `port` with `key`, or every one at `port` when
    // `key` is empty; `removed` counts them.
    virtual StoreStatus Withdraw(const std::string& address, uint16_t port, const std::string& key,
                                 size_t& removed) = 0;
    // At most `most` live holders of the file with this digest (or announced with this
    // URL), chosen at random when there are more. Appended to `out`.
    virtual StoreStatus HoldersByMd5(const std::string& md5, size_t most,
                                     std::vector<Announcement>& out) = 0;
    virtual StoreStatus HoldersByUrl(const std::string& url, size_t most,
                                     std::vector<Announcement>& out) = 0;
    virtual StoreStatus Counts(StoreCounts& out) = 0;
};

// The name a file is counted under: "md5:" + digest, else "url:" + URL.
inline std::string FileIdentity(const Announcement& a) {
    return a.md5.empty() ? "url:" + a.url : "md5:" + a.md5;
}

}  // namespace lookup
