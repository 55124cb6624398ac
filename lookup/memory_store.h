// Announcements in this process's memory: lost when it ends, which soft state allows (the
// engines announce again). Expired ones are removed at the next call.
#pragma once

#include <chrono>
#include <mutex>
#include <set>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "lookup/announcement_store.h"

namespace lookup {

class MemoryStore final : public AnnouncementStore {
  public:
    explicit MemoryStore(size_t maxPerAddress) : maxPerAddress_(maxPerAddress) {}

    const char* kind() const override { return "memory"; }
    StoreStatus Announce(const Announcement& announcement, std::chrono::milliseconds ttl) override;
    StoreStatus Withdraw(const std::string& address, uint16_t port, const std::string& key,
                         size_t& removed) override;
    StoreStatus HoldersByMd5(const std::string& md5, size_t most,
                             std::vector<Announcement>& out) override;
    StoreStatus HoldersByUrl(const std::string& url, size_t most,
                             std::vector<Announcement>& out) override;
    StoreStatus Counts(StoreCounts& out) override;

  private:
    using Clock = std::chrono::steady_clock;

    // Ids with a random pick of a few in time independent of their number.
    class IdBag {
      public:
        void Add(const std::string& id);
        void Remove(const std::string& id);
        bool empty() const { return ids_.empty(); }
        std::vector<const std::string*> Pick(size_t most) const;

      private:
        std::vector<std::string> ids_;
        std::unordered_map<std::string, size_t> index_;
    };

    struct Entry {
        Announcement announcement;
        Clock::time_point expires;
    };

    void Sweep(Clock::time_point now);
    void Remove(const std::string& id);
    StoreStatus Holders(std::unordered_map<std::string, IdBag>& index, const std::string& name,
                        size_t most, std::vector<Announcement>& out);

    const size_t maxPerAddress_;
    std::mutex lock_;
    std::unordered_map<std::string, Entry> entries_;  // by id: address|port|key
    std::set<std::pair<Clock::time_point, std::string>> expiry_;
    std::unordered_map<std::string, IdBag> holdersByMd5_;
    std::unordered_map<std::string, IdBag> holdersByUrl_;
    std::unordered_map<std::string, std::unordered_set<std::string>> byAddress_;
    std::unordered_map<std::string, std::unordered_set<std::string>> byPeer_;  // address|port
    std::unordered_map<std::string, size_t> files_;  // FileIdentity -> announcements
};

}  // namespace lookup
