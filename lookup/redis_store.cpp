#include "lookup/redis_store.h"

#include <hiredis.h>

#include <charconv>
#include <memory>
#include <unordered_set>

namespace lookup {
namespace {

using Command = std::vector<std::string>;
struct ReplyFree {
    void operator()(redisReply* reply) const { freeReplyObject(reply); }
};
using Reply = std::unique_ptr<redisReply, ReplyFree>;

// A minute beyond the latest member, so that a set outlives its members on a clock a bit behind.
constexpr int64_t kSetSlackMs = 60000;
// The most members a per-engine range returns: the per-address cap keeps them fewer.
constexpr size_t kMaxRange = 4096;

// KEYS[1] a holder index; ARGV: now, how many, the key prefix. Prunes the index, picks at
// random, and answers id, fields, id, fields... (the fields as HMGET gives them).
const char kPickHolders[] = R"(
redis.call('ZREMRANGEBYSCORE', KEYS[1], '-inf', ARGV[1])
local out = {}
for _, id in ipairs(redis.call('ZRANDMEMBER', KEYS[1], ARGV[2])) do
  out[#out + 1] = id
  out[#out + 1] = redis.call('HMGET', ARGV[3] .. 'a:' .. id, 'k', 'p', 'a', 'l', 'm', 'u', 'h', 'c')
end
return out
)";

int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

timeval Timeval(uint32_t ms) {
    timeval tv{};
    tv.tv_sec = ms / 1000;
    tv.tv_usec = static_cast<suseconds_t>((ms % 1000) * 1000);
    return tv;
}

bool IsError(const redisReply* reply) {
    if (reply == nullptr || reply->type == REDIS_REPLY_ERROR) return true;
    if (reply->type == REDIS_REPLY_ARRAY) {
        for (size_t i = 0; i < reply->elements; ++i) {
            if (reply->element[i] && reply->element[i]->type == REDIS_REPLY_ERROR) return true;
        }
    }
    return false;
}

std::string Text(const redisReply* reply) {
    return reply && reply->type == REDIS_REPLY_STRING ? std::string(reply->str, reply->len) : "";
}

bool IsNil(const redisReply* reply) { return !reply || reply->type == REDIS_REPLY_NIL; }

template <typename T>
bool Number(const std::string& text, T& out) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), out);
    return !text.empty() && error == std::errc() && end == text.data() + text.size();
}

std::string PeerId(const std::string& address, uint16_t port) {
    return address + "|" + std::to_string(port);
}

// The announcement stored in a hash read with the fields k p a l m u h c; false when it
// is gone or not one of ours.
bool ReadAnnouncement(const redisReply* fields, Announcement& a) {
    if (!fields || fields->type != REDIS_REPLY_ARRAY || fields->elements != 8) return false;
    for (size_t i = 0; i < 8; ++i) {
        if (fields->element[i]->type != REDIS_REPLY_STRING) return false;
    }
    a.key = Text(fields->element[0]);
    a.address = Text(fields->element[2]);
    a.md5 = Text(fields->element[4]);
    a.url = Text(fields->element[5]);
    a.complete = Text(fields->element[7]) == "1";
    return Number(Text(fields->element[1]), a.port) && a.port != 0 &&
           Number(Text(fields->element[3]), a.length) && a.length >= 0 &&
           Number(Text(fields->element[6]), a.held) && a.held >= 0 && a.held <= a.length &&
           !a.key.empty() && !a.address.empty();
}

}  // namespace

bool ParseRedisUrl(const std::string& url, std::string& host, uint16_t& port) {
    const std::string scheme = "redis://";
    if (url.compare(0, scheme.size(), scheme) != 0) return false;
    std::string rest = url.substr(scheme.size());
    if (!rest.empty() && rest.back() == '/') rest.pop_back();
    const size_t colon = rest.rfind(':');
    if (colon == std::string::npos || colon == 0) return false;
    std::string name = rest.substr(0, colon);
    if (name.front() == '[') {
        if (name.size() < 3 || name.back() != ']') return false;
        name = name.substr(1, name.size() - 2);
    } else if (name.find(':') != std::string::npos) {
        return false;
    }
    if (name.find_first_of("/@ ") != std::string::npos) return false;
    unsigned value = 0;
    if (!Number(rest.substr(colon + 1), value) || value == 0 || value > 65535) return false;
    host = name;
    port = static_cast<uint16_t>(value);
    return true;
}

// One connection of the pool for one call: pipelines of commands, each reply checked.
class RedisStore::Session {
  public:
    explicit Session(RedisStore& store) : store_(store), context_(store.Acquire(reused_)) {}
    ~Session() {
        if (context_) store_.Release(context_, healthy_);
    }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    bool ok() const { return context_ != nullptr; }
    // The connection broke, and it had served before: Redis may have restarted since.
    bool stale() const { return reused_ && !healthy_; }

    // Sends every command, then reads every reply; false when the connection broke (it is
    // then dropped) or any reply is an error.
    bool Run(const std::vector<Command>& commands, std::vector<Reply>& replies) {
        replies.clear();
        if (!context_ || !healthy_) return false;
        for (const Command& command : commands) {
            std::vector<const char*> argv;
            std::vector<size_t> lengths;
            for (const std::string& part : command) {
                argv.push_back(part.data());
                lengths.push_back(part.size());
            }
            if (redisAppendCommandArgv(context_, static_cast<int>(argv.size()), argv.data(),
                                       lengths.data()) != REDIS_OK) {
                healthy_ = false;
                return false;
            }
        }
        bool good = true;
        for (size_t i = 0; i < commands.size(); ++i) {
            void* raw = nullptr;
            if (redisGetReply(context_, &raw) != REDIS_OK) {
                healthy_ = false;
                return false;
            }
            replies.emplace_back(static_cast<redisReply*>(raw));
            if (IsError(replies.back().get())) good = false;
        }
        return good;
    }

  private:
    RedisStore& store_;
    bool reused_ = false;
    redisContext* context_;
    bool healthy_ = true;
};

template <typename Call>
StoreStatus RedisStore::Attempt(Call call) {
    for (int attempt = 0;; ++attempt) {
        Session session(*this);
        if (!session.ok()) return StoreStatus::Unavailable;
        const StoreStatus status = call(session);
        // A connection kept from before a restart fails once; the others kept with it
        // are as old, and the call is tried once more on a new one. Every call may run twice.
        if (status != StoreStatus::Unavailable || !session.stale() || attempt > 0) return status;
        DropIdle();
    }
}

void RedisStore::DropIdle() {
    std::vector<redisContext*> idle;
    {
        std::lock_guard<std::mutex> guard(lock_);
        idle.swap(idle_);
    }
    for (redisContext* context : idle) redisFree(context);
}

RedisStore::~RedisStore() {
    for (redisContext* context : idle_) redisFree(context);
}

redisContext* RedisStore::Acquire(bool& reused) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        reused = !idle_.empty();
        if (reused) {
            redisContext* context = idle_.back();
            idle_.pop_back();
            return context;
        }
        if (std::chrono::steady_clock::now() < retryAfter_) return nullptr;
    }
    redisContext* context = redisConnectWithTimeout(options_.host.c_str(), options_.port,
                                                    Timeval(options_.connectTimeoutMs));
    if (context && !context->err &&
        redisSetTimeout(context, Timeval(options_.commandTimeoutMs)) == REDIS_OK) {
        return context;
    }
    if (context) redisFree(context);
    std::lock_guard<std::mutex> guard(lock_);
    retryAfter_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(500);
    return nullptr;
}

void RedisStore::Release(redisContext* context, bool healthy) {
    if (healthy && !context->err) {
        std::lock_guard<std::mutex> guard(lock_);
        idle_.push_back(context);
        return;
    }
    redisFree(context);
}

StoreStatus RedisStore::Announce(const Announcement& a, std::chrono::milliseconds ttl) {
    return Attempt([&](Session& session) { return Announce(session, a, ttl); });
}

StoreStatus RedisStore::Announce(Session& session, const Announcement& a,
                                 std::chrono::milliseconds ttl) {
    const std::string& p = options_.prefix;
    const std::string peer = PeerId(a.address, a.port);
    const std::string id = peer + "|" + a.key;
    const std::string hash = p + "a:" + id, ip = p + "ip:" + a.address;
    const int64_t now = NowMs();
    const std::string expires = std::to_string(now + ttl.count());
    const std::string setLife = std::to_string(ttl.count() + kSetSlackMs);
    const std::string past = std::to_string(now);
    std::vector<Reply> r;
    if (!session.Run({{"ZREMRANGEBYSCORE", ip, "-inf", past},
                      {"ZSCORE", ip, id},
                      {"ZCARD", ip},
                      {"HMGET", hash, "m", "u"},
                      {"ZREMRANGEBYSCORE", p + "peers", "-inf", past},
                      {"ZREMRANGEBYSCORE", p + "files", "-inf", past}},
                     r)) {
        return StoreStatus::Unavailable;
    }
    const bool known = !IsNil(r[1].get());
    if (!known && r[2]->type == REDIS_REPLY_INTEGER &&
        static_cast<size_t>(r[2]->integer) >= options_.maxPerAddress) {
        return StoreStatus::TooMany;
    }

    std::vector<Command> c = {{"MULTI"}};
    // What an earlier announcement of the same id said, when it named the file otherwise.
    const redisReply* old = r[3].get();
    if (old->type == REDIS_REPLY_ARRAY && old->elements == 2 && !IsNil(old->element[0])) {
        Announcement before;
        before.md5 = Text(old->element[0]);
        before.url = Text(old->element[1]);
        if (!before.md5.empty() && before.md5 != a.md5)
            c.push_back({"ZREM", p + "hm:" + before.md5, id});
        if (!before.url.empty() && before.url != a.url)
            c.push_back({"ZREM", p + "hu:" + before.url, id});
        if (FileIdentity(before) != FileIdentity(a)) {
            c.push_back({"ZREM", p + "file:" + FileIdentity(before), id});
        }
    }
    const std::string file = p + "file:" + FileIdentity(a);
    const std::string peerSet = p + "peer:" + peer;
    c.push_back({"DEL", hash});
    c.push_back({"HSET", hash, "k", a.key, "p", std::to_string(a.port), "a", a.address, "l",
                 std::to_string(a.length), "m", a.md5, "u", a.url, "h", std::to_string(a.held), "c",
                 a.complete ? "1" : "0"});
    c.push_back({"PEXPIRE", hash, std::to_string(ttl.count())});
    for (const auto& [set, member] :
         {std::pair{ip, id}, std::pair{peerSet, a.key}, std::pair{file, id}}) {
        c.push_back({"ZADD", set, expires, member});
        c.push_back({"PEXPIRE", set, setLife});
    }
    c.push_back({"ZADD", p + "peers", "GT", expires, peer});
    c.push_back({"ZADD", p + "files", "GT", expires, FileIdentity(a)});
    for (const auto& [set, named] : {std::pair{p + "hm:" + a.md5, !a.md5.empty()},
                                     std::pair{p + "hu:" + a.url, !a.url.empty()}}) {
        if (!named) continue;
        if (a.held > 0) {
            c.push_back({"ZADD", set, expires, id});
            c.push_back({"PEXPIRE", set, setLife});
        } else {
            c.push_back({"ZREM", set, id});
        }
    }
    c.push_back({"EXEC"});
    if (!session.Run(c, r) || r.back()->type != REDIS_REPLY_ARRAY) return StoreStatus::Unavailable;
    return StoreStatus::Ok;
}

StoreStatus RedisStore::Withdraw(const std::string& address, uint16_t port, const std::string& key,
                                 size_t& removed) {
    return Attempt(
        [&](Session& session) { return Withdraw(session, address, port, key, removed); });
}

StoreStatus RedisStore::Withdraw(Session& session, const std::string& address, uint16_t port,
                                 const std::string& key, size_t& removed) {
    removed = 0;
    const std::string& p = options_.prefix;
    const std::string peer = PeerId(address, port);
    const std::string peerSet = p + "peer:" + peer;
    const std::string past = std::to_string(NowMs());
    std::vector<Reply> r;
    std::vector<std::string> keys;
    if (key.empty()) {
        if (!session.Run({{"ZREMRANGEBYSCORE", peerSet, "-inf", past},
                          {"ZRANGE", peerSet, "0", std::to_string(kMaxRange - 1)}},
                         r)) {
            return StoreStatus::Unavailable;
        }
        for (size_t i = 0; i < r[1]->elements; ++i) keys.push_back(Text(r[1]->element[i]));
    } else {
        keys.push_back(key);
    }
    if (keys.empty()) return StoreStatus::Ok;

    std::vector<Command> reads;
    for (const std::string& k : keys)
        reads.push_back({"HMGET", p + "a:" + peer + "|" + k, "m", "u"});
    if (!session.Run(reads, r)) return StoreStatus::Unavailable;
    std::vector<Command> c = {{"MULTI"}};
    std::unordered_set<std::string> files;
    for (size_t i = 0; i < keys.size(); ++i) {
        const std::string id = peer + "|" + keys[i];
        c.push_back({"ZREM", p + "ip:" + address, id});
        c.push_back({"ZREM", peerSet, keys[i]});
        const redisReply* fields = r[i].get();
        if (fields->type != REDIS_REPLY_ARRAY || fields->elements != 2 ||
            IsNil(fields->element[0])) {
            continue;  // expired already
        }
        Announcement a;
        a.md5 = Text(fields->element[0]);
        a.url = Text(fields->element[1]);
        c.push_back({"DEL", p + "a:" + id});
        c.push_back({"ZREM", p + "file:" + FileIdentity(a), id});
        if (!a.md5.empty()) c.push_back({"ZREM", p + "hm:" + a.md5, id});
        if (!a.url.empty()) c.push_back({"ZREM", p + "hu:" + a.url, id});
        files.insert(FileIdentity(a));
        ++removed;
    }
    c.push_back({"EXEC"});
    if (!session.Run(c, r)) return StoreStatus::Unavailable;

    // An engine or a file nobody announces any more is no longer counted.
    std::vector<Command> counts = {{"ZREMRANGEBYSCORE", peerSet, "-inf", past}, {"ZCARD", peerSet}};
    std::vector<std::string> names(files.begin(), files.end());
    for (const std::string& name : names) {
        counts.push_back({"ZREMRANGEBYSCORE", p + "file:" + name, "-inf", past});
        counts.push_back({"ZCARD", p + "file:" + name});
    }
    if (!session.Run(counts, r)) return StoreStatus::Unavailable;
    std::vector<Command> forget;
    if (r[1]->integer == 0) forget.push_back({"ZREM", p + "peers", peer});
    for (size_t i = 0; i < names.size(); ++i) {
        if (r[3 + 2 * i]->integer == 0) forget.push_back({"ZREM", p + "files", names[i]});
    }
    if (!forget.empty() && !session.Run(forget, r)) return StoreStatus::Unavailable;
    return StoreStatus::Ok;
}

StoreStatus RedisStore::Holders(const std::string& index, const std::string& md5,
                                const std::string& url, size_t most,
                                std::vector<Announcement>& out) {
    if (most == 0) return StoreStatus::Ok;
    const size_t before = out.size();
    return Attempt([&](Session& session) {
        out.resize(before);
        return Holders(session, index, md5, url, most, out);
    });
}

StoreStatus RedisStore::Holders(Session& session, const std::string& index, const std::string& md5,
                                const std::string& url, size_t most,
                                std::vector<Announcement>& out) {
    // One round trip: the pick and each picked announcement's fields, read inside Redis.
    std::vector<Reply> r;
    if (!session.Run({{"EVAL", kPickHolders, "1", index, std::to_string(NowMs()),
                       std::to_string(most), options_.prefix}},
                     r) ||
        r[0]->type != REDIS_REPLY_ARRAY || r[0]->elements % 2 != 0) {
        return StoreStatus::Unavailable;
    }
    const redisReply* picked = r[0].get();
    std::vector<std::string> ids;
    std::vector<const redisReply*> fields;
    for (size_t i = 0; i + 1 < picked->elements && ids.size() < most; i += 2) {
        ids.push_back(Text(picked->element[i]));
        fields.push_back(picked->element[i + 1]);
    }
    std::vector<Command> stale;
    for (size_t i = 0; i < ids.size(); ++i) {
        Announcement a;
        // Gone, or refreshed since to say something else: the index forgets it.
        if (!ReadAnnouncement(fields[i], a) || a.held == 0 || (!md5.empty() && a.md5 != md5) ||
            (!url.empty() && a.url != url)) {
            stale.push_back({"ZREM", index, ids[i]});
            continue;
        }
        out.push_back(std::move(a));
    }
    std::vector<Reply> ignored;
    if (!stale.empty() && !session.Run(stale, ignored)) return StoreStatus::Unavailable;
    return StoreStatus::Ok;
}

StoreStatus RedisStore::HoldersByMd5(const std::string& md5, size_t most,
                                     std::vector<Announcement>& out) {
    return Holders(options_.prefix + "hm:" + md5, md5, "", most, out);
}

StoreStatus RedisStore::HoldersByUrl(const std::string& url, size_t most,
                                     std::vector<Announcement>& out) {
    return Holders(options_.prefix + "hu:" + url, "", url, most, out);
}

StoreStatus RedisStore::Counts(StoreCounts& out) {
    return Attempt([&](Session& session) { return Counts(session, out); });
}

StoreStatus RedisStore::Counts(Session& session, StoreCounts& out) {
    const std::string& p = options_.prefix;
    const std::string past = std::to_string(NowMs());
    std::vector<Reply> r;
    if (!session.Run({{"ZREMRANGEBYSCORE", p + "peers", "-inf", past},
                      {"ZCARD", p + "peers"},
                      {"ZREMRANGEBYSCORE", p + "files", "-inf", past},
                      {"ZCARD", p + "files"}},
                     r)) {
        return StoreStatus::Unavailable;
    }
    out.peers = static_cast<uint64_t>(r[1]->integer);
    out.files = static_cast<uint64_t>(r[3]->integer);
    return StoreStatus::Ok;
}

}  // namespace lookup
