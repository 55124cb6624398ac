#include "lookup/lookup_service.h"

#include <algorithm>
#include <map>
#include <random>
#include <set>
#include <tuple>

#include "platform/ip_address.h"

namespace lookup {
namespace {

// The most digests a URL is followed to: a URL whose content changed now and then.
constexpr size_t kMaxDigestsPerUrl = 4;

HttpReply Text(int status, std::string body, std::string note = "") {
    HttpReply reply;
    reply.status = status;
    reply.body = std::move(body);
    reply.note = std::move(note);
    return reply;
}

HttpReply Refusal(int status, const std::string& reason) {
    return Text(status, reason + "\r\n", reason);
}

HttpReply WrongMethod(const char* allowed) {
    HttpReply reply = Refusal(405, std::string("use ") + allowed);
    reply.allow = allowed;
    return reply;
}

HttpReply StoreFailure(StoreStatus status) {
    return status == StoreStatus::TooMany ? Refusal(429, "too many announcements from this address")
                                          : Refusal(503, "store unavailable");
}

std::mt19937_64& Random() {
    thread_local std::mt19937_64 random(std::random_device{}());
    return random;
}

size_t Wanted(uint64_t asked, size_t byDefault, size_t most) {
    return asked == 0 ? byDefault : static_cast<size_t>(std::min<uint64_t>(asked, most));
}

// What the announcements say the file is, when the operator does not: the digest and
// length most of them agree on (announcements with a digest first).
void ChooseIdentity(const std::vector<Announcement>& found, FileAnswer& answer) {
    std::map<std::pair<std::string, int64_t>, size_t> votes;
    bool anyDigest = false;
    for (const Announcement& a : found) anyDigest = anyDigest || !a.md5.empty();
    for (const Announcement& a : found) {
        if (anyDigest && a.md5.empty()) continue;
        ++votes[{a.md5, a.length}];
    }
    // Most votes; then the longer file, then the smaller digest, so that every service
    // given the same announcements chooses alike.
    auto best = votes.end();
    for (auto it = votes.begin(); it != votes.end(); ++it) {
        if (best == votes.end() || std::make_tuple(it->second, it->first.second) >
                                       std::make_tuple(best->second, best->first.second)) {
            best = it;
        }
    }
    if (best == votes.end()) return;
    answer.md5 = best->first.first;
    answer.length = best->first.second;
}

}  // namespace

void LookupService::ReplaceMirrors(MirrorList mirrors) {
    auto replacement = std::make_shared<const MirrorList>(std::move(mirrors));
    std::lock_guard<std::mutex> guard(mirrorsLock_);
    mirrors_.swap(replacement);
}

std::shared_ptr<const MirrorList> LookupService::Mirrors() {
    std::lock_guard<std::mutex> guard(mirrorsLock_);
    return mirrors_;
}

HttpReply LookupService::Handle(const HttpExchange& exchange) {
    ++requests_;
    const bool post = exchange.method == "POST";
    HttpReply reply;
    std::string asker = exchange.connectionAddress;
    const bool trusted = exchange.hasForwardedFor &&
                         std::find(settings_.trustedProxies.begin(), settings_.trustedProxies.end(),
                                   asker) != settings_.trustedProxies.end();
    if (trusted) {
        std::string first = exchange.forwardedFor.substr(0, exchange.forwardedFor.find(','));
        const size_t start = first.find_first_not_of(" \t");
        const size_t end = first.find_last_not_of(" \t");
        first = start == std::string::npos ? "" : first.substr(start, end - start + 1);
        const std::optional<std::string> forwarded = platform::CanonicalIpAddress(first);
        if (!forwarded) {
            ++refused_;
            return Refusal(400, "X-Forwarded-For does not begin with an address");
        }
        asker = *forwarded;
    }

    const std::string& path = exchange.path;
    const bool known = path == "/getfipl.php" || path == "/announce" || path == "/withdraw";
    if (path == "/status") {
        reply = exchange.method == "GET" ? Status() : WrongMethod("GET");
    } else if (!known) {
        reply = Refusal(404, "no such page");
    } else if (!post) {
        reply = WrongMethod("POST");
    } else if (exchange.bodyTooLarge) {
        reply = Refusal(413, "body larger than " + std::to_string(kMaxBodyBytes) + " bytes");
    } else if (path == "/getfipl.php") {
        reply = Lookup(exchange.body, asker);
    } else if (path == "/announce") {
        reply = Announce(exchange.body, asker);
    } else {
        reply = Withdraw(exchange.body, asker);
    }
    if (reply.status >= 400) ++refused_;
    if (trusted) reply.note = "for " + asker + (reply.note.empty() ? "" : ": " + reply.note);
    return reply;
}

bool LookupService::FindHolders(const FileQuery& query, const MirroredFile* listed, size_t most,
                                std::vector<Announcement>& found) {
    if (query.url.empty()) return store_.HoldersByMd5(query.md5, most, found) == StoreStatus::Ok;
    if (store_.HoldersByUrl(query.url, most, found) != StoreStatus::Ok) return false;
    // The URL leads to digests: the operator's, then those the announcements name most.
    std::vector<std::string> digests;
    if (listed && !listed->md5.empty()) digests.push_back(listed->md5);
    std::map<std::string, size_t> named;
    for (const Announcement& a : found) {
        if (!a.md5.empty()) ++named[a.md5];
    }
    std::vector<std::pair<size_t, std::string>> byVotes;
    for (const auto& [md5, count] : named) byVotes.emplace_back(count, md5);
    std::sort(byVotes.begin(), byVotes.end(), [](const auto& x, const auto& y) {
        return x.first != y.first ? x.first > y.first : x.second < y.second;
    });
    for (const auto& [count, md5] : byVotes) {
        if (std::find(digests.begin(), digests.end(), md5) == digests.end()) digests.push_back(md5);
    }
    if (digests.size() > kMaxDigestsPerUrl) digests.resize(kMaxDigestsPerUrl);
    for (const std::string& md5 : digests) {
        if (store_.HoldersByMd5(md5, most, found) != StoreStatus::Ok) return false;
    }
    return true;
}

HttpReply LookupService::Lookup(const std::string& body, const std::string& asker) {
    FileQuery query;
    std::string reason;
    if (!ParseFileQuery(body, query, reason)) return Refusal(400, reason);
    ++lookups_;
    const size_t peersWanted =
        Wanted(query.peersWanted, settings_.defaultPeers, settings_.maxPeers);
    const size_t mirrorsWanted =
        Wanted(query.mirrorsWanted, settings_.defaultMirrors, settings_.maxMirrors);
    const std::shared_ptr<const MirrorList> mirrors = Mirrors();
    const MirroredFile* listed =
        query.url.empty() ? mirrors->ByMd5(query.md5) : mirrors->ByUrl(query.url);

    // A pick larger than the answer, so that the asker and mismatches leave enough.
    std::vector<Announcement> found;
    if (!FindHolders(query, listed, peersWanted * 2 + 8, found)) {
        return StoreFailure(StoreStatus::Unavailable);
    }
    if (!listed && found.empty()) return Text(200, std::string(kUnknownFileAnswer), "unknown file");

    FileAnswer answer;
    if (listed) {
        answer.md5 = listed->md5;
        answer.length = listed->length;
        for (const std::string& url : listed->urls) {
            if (url != query.url) answer.mirrors.push_back(url);
        }
        std::shuffle(answer.mirrors.begin(), answer.mirrors.end(), Random());
        if (answer.mirrors.size() > mirrorsWanted) answer.mirrors.resize(mirrorsWanted);
    } else {
        ChooseIdentity(found, answer);
    }
    std::shuffle(found.begin(), found.end(), Random());
    std::set<std::pair<std::string, uint16_t>> listedPeers;
    for (const Announcement& a : found) {
        if (answer.peers.size() == peersWanted) break;
        const bool self = a.address == asker && a.port == query.askerPort;
        const bool sameFile = a.length == answer.length &&
                              (a.md5.empty() || answer.md5.empty() || a.md5 == answer.md5);
        if (self || !sameFile || a.held == 0 || !listedPeers.emplace(a.address, a.port).second) {
            continue;
        }
        answer.peers.push_back({a.address, a.port, a.key});
    }
    return Text(200, FormatAnswer(answer));
}

HttpReply LookupService::Announce(const std::string& body, const std::string& asker) {
    Announcement a;
    std::string reason;
    if (!ParseAnnouncement(body, a, reason)) return Refusal(400, reason);
    a.address = asker;
    const StoreStatus status =
        store_.Announce(a, std::chrono::duration_cast<std::chrono::milliseconds>(settings_.ttl));
    if (status != StoreStatus::Ok) return StoreFailure(status);
    ++announcements_;
    return Text(200, "OK ttl=" + std::to_string(settings_.ttl.count()) + "\r\n");
}

HttpReply LookupService::Withdraw(const std::string& body, const std::string& asker) {
    Withdrawal w;
    std::string reason;
    if (!ParseWithdrawal(body, w, reason)) return Refusal(400, reason);
    size_t removed = 0;
    const StoreStatus status = store_.Withdraw(asker, w.port, w.key, removed);
    if (status != StoreStatus::Ok) return StoreFailure(status);
    ++withdrawals_;
    return Text(200, "OK\r\n", "removed " + std::to_string(removed));
}

HttpReply LookupService::Status() {
    StoreCounts counts;
    const bool available = store_.Counts(counts) == StoreStatus::Ok;
    HttpReply reply;
    reply.contentType = "application/json";
    reply.body = "{\"requests\":" + std::to_string(requests_.load()) +
                 ",\"lookups\":" + std::to_string(lookups_.load()) +
                 ",\"announcements\":" + std::to_string(announcements_.load()) +
                 ",\"withdrawals\":" + std::to_string(withdrawals_.load()) +
                 ",\"refused\":" + std::to_string(refused_.load()) +
                 ",\"peers_known\":" + (available ? std::to_string(counts.peers) : "null") +
                 ",\"files_known\":" + (available ? std::to_string(counts.files) : "null") +
                 ",\"mirrored_files\":" + std::to_string(Mirrors()->size()) + ",\"store\":\"" +
                 store_.kind() + "\",\"store_available\":" + (available ? "true" : "false") + "}\n";
    return reply;
}

}  // namespace lookup
