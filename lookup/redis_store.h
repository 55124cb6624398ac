// Announcements in Redis, so that several lookup services on one Redis answer alike.
// Needs Redis 6.2 or later (ZRANDMEMBER, ZADD GT).
//
// Keys (PREFIX is "qgl:"; ID is ADDRESS|PORT|KEY; scores are expiry times in Unix
// milliseconds of the services' clocks):
//   PREFIX a:ID             hash of the announcement (k p a l m u h c), expires with it
//   PREFIX ip:ADDRESS       sorted set of IDs: the per-address cap
//   PREFIX peer:ADDRESS|PORT sorted set of keys: what one engine announced
//   PREFIX file:IDENTITY    sorted set of IDs announcing a file (FileIdentity)
//   PREFIX hm:MD5, hu:URL   sorted sets of the IDs that hold bytes, by digest and by URL
//   PREFIX peers, files     sorted sets of engines and files, by their latest expiry
// Every set is pruned of expired members as it is read; each expires itself a minute
// after its latest member, so nothing stays once engines stop announcing. Services that
// share a Redis should use the same time to live.
//
// Every command has a bounded reply (counts, a bounded random pick, one hash, ranges
// capped). A lookup is one round trip: a small script prunes the index, picks at random
// and reads the announcements picked (EVAL; a single Redis, not a cluster). Connections have a
// connect and a command time-out; a Redis that does not answer makes every call Unavailable within
// them, and after a failed connect the store does not try again for half a second. A call whose
// kept connection broke (Redis restarted) is tried once more on a new one.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "lookup/announcement_store.h"

struct redisContext;

namespace lookup {

struct RedisOptions {
    std::string host = "127.0.0.1";
    uint16_t port = 6379;
    size_t maxPerAddress = 256;
    uint32_t connectTimeoutMs = 1000;
    uint32_t commandTimeoutMs = 2000;
    std::string prefix = "qgl:";
};

// "redis://HOST:PORT" (HOST a name or an address, IPv6 in brackets); false otherwise.
bool ParseRedisUrl(const std::string& url, std::string& host, uint16_t& port);

class RedisStore final : public AnnouncementStore {
  public:
    explicit RedisStore(RedisOptions options) : options_(std::move(options)) {}
    ~RedisStore() override;
    RedisStore(const RedisStore&) = delete;
    RedisStore& operator=(const RedisStore&) = delete;

    const char* kind() const override { return "redis"; }
    StoreStatus Announce(const Announcement& announcement, std::chrono::milliseconds ttl) override;
    StoreStatus Withdraw(const std::string& address, uint16_t port, const std::string& key,
                         size_t& removed) override;
    StoreStatus HoldersByMd5(const std::string& md5, size_t most,
                             std::vector<Announcement>& out) override;
    StoreStatus HoldersByUrl(const std::string& url, size_t most,
                             std::vector<Announcement>& out) override;
    StoreStatus Counts(StoreCounts& out) override;

  private:
    class Session;
    friend class Session;

    template <typename Call>
    StoreStatus Attempt(Call call);
    redisContext* Acquire(bool& reused);
    void Release(redisContext* context, bool healthy);
    void DropIdle();
    StoreStatus Announce(Session& session, const Announcement& a, std::chrono::milliseconds ttl);
    StoreStatus Withdraw(Session& session, const std::string& address, uint16_t port,
                         const std::string& key, size_t& removed);
    StoreStatus Holders(const std::string& index, const std::string& md5, const std::string& url,
                        size_t most, std::vector<Announcement>& out);
    StoreStatus Holders(Session& session, const std::string& index, const std::string& md5,
                        const std::string& url, size_t most, std::vector<Announcement>& out);
    StoreStatus Counts(Session& session, StoreCounts& out);

    const RedisOptions options_;
    std::mutex lock_;
    std::vector<redisContext*> idle_;
    std::chrono::steady_clock::time_point retryAfter_{};
};

}  // namespace lookup
