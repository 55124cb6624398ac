#include "lookup/memory_store.h"

#include <random>

namespace lookup {
namespace {

std::string PeerId(const std::string& address, uint16_t port) {
    return address + "|" + std::to_string(port);
}

std::string AnnouncementId(const Announcement& a) {
    return PeerId(a.address, a.port) + "|" + a.key;
}

std::mt19937_64& Random() {
    thread_local std::mt19937_64 random(std::random_device{}());
    return random;
}

}  // namespace

void MemoryStore::IdBag::Add(const std::string& id) {
    if (index_.emplace(id, ids_.size()).second) ids_.push_back(id);
}

void MemoryStore::IdBag::Remove(const std::string& id) {
    const auto found = index_.find(id);
    if (found == index_.end()) return;
    const size_t at = found->second;
    index_.erase(found);
    if (at + 1 != ids_.size()) {
        ids_[at] = std::move(ids_.back());
        index_[ids_[at]] = at;
    }
    ids_.pop_back();
}

std::vector<const std::string*> MemoryStore::IdBag::Pick(size_t most) const {
    std::vector<const std::string*> picked;
    if (most >= ids_.size()) {
        for (const std::string& id : ids_) picked.push_back(&id);
        return picked;
    }
    // Floyd's selection: `most` distinct positions in time proportional to `most`.
    std::unordered_set<size_t> chosen;
    for (size_t j = ids_.size() - most; j < ids_.size(); ++j) {
        const size_t t = std::uniform_int_distribution<size_t>(0, j)(Random());
        const size_t take = chosen.insert(t).second ? t : j;
        if (take == j) chosen.insert(j);
        picked.push_back(&ids_[take]);
    }
    return picked;
}

void MemoryStore::Remove(const std::string& id) {
    const auto found = entries_.find(id);
    if (found == entries_.end()) return;
    const Announcement& a = found->second.announcement;
    expiry_.erase({found->second.expires, id});
    if (!a.md5.empty()) {
        auto bag = holdersByMd5_.find(a.md5);
        if (bag != holdersByMd5_.end()) {
            bag->second.Remove(id);
            if (bag->second.empty()) holdersByMd5_.erase(bag);
        }
    }
    if (!a.url.empty()) {
        auto bag = holdersByUrl_.find(a.url);
        if (bag != holdersByUrl_.end()) {
            bag->second.Remove(id);
            if (bag->second.empty()) holdersByUrl_.erase(bag);
        }
    }
    auto address = byAddress_.find(a.address);
    address->second.erase(id);
    if (address->second.empty()) byAddress_.erase(address);
    auto peer = byPeer_.find(PeerId(a.address, a.port));
    peer->second.erase(id);
    if (peer->second.empty()) byPeer_.erase(peer);
    auto file = files_.find(FileIdentity(a));
    if (--file->second == 0) files_.erase(file);
    entries_.erase(found);
}

void MemoryStore::Sweep(Clock::time_point now) {
    while (!expiry_.empty() && expiry_.begin()->first <= now) {
        const std::string id = expiry_.begin()->second;
        Remove(id);
    }
}

StoreStatus MemoryStore::Announce(const Announcement& a, std::chrono::milliseconds ttl) {
    const Clock::time_point now = Clock::now();
    const std::string id = AnnouncementId(a);
    std::lock_guard<std::mutex> guard(lock_);
    Sweep(now);
    if (entries_.count(id)) {
        Remove(id);
    } else if (auto address = byAddress_.find(a.address);
               address != byAddress_.end() && address->second.size() >= maxPerAddress_) {
        return StoreStatus::TooMany;
    }
    const Clock::time_point expires = now + ttl;
    entries_.emplace(id, Entry{a, expires});
    expiry_.emplace(expires, id);
    if (a.held > 0) {
        if (!a.md5.empty()) holdersByMd5_[a.md5].Add(id);
        if (!a.url.empty()) holdersByUrl_[a.url].Add(id);
    }
    byAddress_[a.address].insert(id);
    byPeer_[PeerId(a.address, a.port)].insert(id);
    ++files_[FileIdentity(a)];
    return StoreStatus::Ok;
}

StoreStatus MemoryStore::Withdraw(const std::string& address, uint16_t port, const std::string& key,
                                  size_t& removed) {
    std::lock_guard<std::mutex> guard(lock_);
    Sweep(Clock::now());
    removed = 0;
    const auto peer = byPeer_.find(PeerId(address, port));
    if (peer == byPeer_.end()) return StoreStatus::Ok;
    std::vector<std::string> ids;
    for (const std::string& id : peer->second) {
        if (key.empty() || entries_.at(id).announcement.key == key) ids.push_back(id);
    }
    for (const std::string& id : ids) Remove(id);
    removed = ids.size();
    return StoreStatus::Ok;
}

StoreStatus MemoryStore::Holders(std::unordered_map<std::string, IdBag>& index,
                                 const std::string& name, size_t most,
                                 std::vector<Announcement>& out) {
    std::lock_guard<std::mutex> guard(lock_);
    Sweep(Clock::now());
    const auto bag = index.find(name);
    if (bag == index.end()) return StoreStatus::Ok;
    for (const std::string* id : bag->second.Pick(most))
        out.push_back(entries_.at(*id).announcement);
    return StoreStatus::Ok;
}

StoreStatus MemoryStore::HoldersByMd5(const std::string& md5, size_t most,
                                      std::vector<Announcement>& out) {
    return Holders(holdersByMd5_, md5, most, out);
}

StoreStatus MemoryStore::HoldersByUrl(const std::string& url, size_t most,
                                      std::vector<Announcement>& out) {
    return Holders(holdersByUrl_, url, most, out);
}

StoreStatus MemoryStore::Counts(StoreCounts& out) {
    std::lock_guard<std::mutex> guard(lock_);
    Sweep(Clock::now());
    out.peers = byPeer_.size();
    out.files = files_.size();
    return StoreStatus::Ok;
}

}  // namespace lookup
