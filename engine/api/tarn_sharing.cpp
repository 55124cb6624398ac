#include "tarn_sharing.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "engine/logger.h"
#include "engine/lookup_announce.h"
#include "engine/peer_lookup.h"
#include "platform/file.h"
#include "platform/file_system.h"
#include "platform/http_transfer.h"
#include "platform/ip_address.h"
#include "platform/native_path.h"
#include "tarn_peers.h"
#include "tarn_settings.h"

namespace tarn {
namespace {

using SteadyClock = std::chrono::steady_clock;

constexpr auto kTick = std::chrono::milliseconds(500);
// Announcements are renewed at a third of their time to live, within these bounds; a failed
// one is tried again after a while.
constexpr auto kMinRenewal = std::chrono::seconds(5);
constexpr auto kMaxRenewal = std::chrono::minutes(10);
constexpr auto kRetryAfterFailure = std::chrono::seconds(15);
constexpr uint32_t kAnnounceDeadlineSeconds = 10;
constexpr uint32_t kExitDeadlineSeconds = 3;

bool SameFacts(const platform::FileFacts& a, const platform::FileFacts& b) {
    return a.size == b.size && a.lastWriteNs == b.lastWriteNs;
}

// A finished file, read from where it was put while it is as it was then.
struct SeedSource {
    std::string path;  // GBK
    platform::FileFacts stamp;
    std::unique_ptr<platform::IFile> file;
    std::atomic<bool> changed{false};

    bool Holds() {
        platform::FileFacts now;
        if (!platform::GetFileFacts(path, now).ok() || !SameFacts(now, stamp)) changed = true;
        return !changed;
    }
    bool Read(int64_t offset, size_t size, char* out) {
        if (offset < 0 || offset + static_cast<int64_t>(size) > static_cast<int64_t>(stamp.size) ||
            !Holds()) {
            return false;
        }
        size_t got = 0;
        // Checked again after the read: a change during it must not reach a peer.
        return file->ReadAt(static_cast<uint64_t>(offset), out, size, got) == 0 && got == size &&
               Holds();
    }
};

struct Entry {
    SharedFile file;
    // Seeding: the finished file, until `seedUntil` (or while the process lives).
    std::shared_ptr<SeedSource> seed;
    bool forever = false;
    SteadyClock::time_point seedUntil{};
    // At the lookup server.
    bool announced = false;
    bool announcedComplete = false;
    SteadyClock::time_point nextAnnounce{};
};

struct Due {
    engine::Announcement announcement;
    bool complete = false;
};

}  // namespace

struct Sharing::State {
    std::mutex lock;
    std::condition_variable wake;
    // Guarded by lock.
    std::string listenAddress = "127.0.0.1";
    uint16_t listenPort = 0;
    uint64_t uploadRate = kDefaultUploadBytesPerSecond;
    uint32_t uploads = kDefaultUploadConnections;
    uint32_t seedSeconds = 0;
    std::map<std::string, Entry> entries;
    std::vector<std::string> withdrawals;  // keys to withdraw at the lookup server
    bool anythingAnnounced = false;
    bool closed = false;
    // Set once under lock, never reset: the block server and the announcer.
    std::unique_ptr<engine::BlockServer> server;
    std::thread announcer;
    platform::HttpInterrupt stopRequests;

    void Announce();
    void EndSeeds();
    bool Post(const std::string& path, const std::string& body, uint32_t deadlineSeconds,
              std::string& answer, platform::SocketInterrupt* interrupt);
    void Shutdown();
};

namespace {
Sharing* gInstance = nullptr;
void ShutdownAtExit() {
    if (gInstance) gInstance->Close();
}
}  // namespace

Sharing::Sharing() : state_(new State) {}

Sharing& Sharing::Instance() {
    static Sharing* instance = [] {
        gInstance = new Sharing();
        return gInstance;
    }();
    return *instance;
}

bool Sharing::SetListen(const std::string& address, uint16_t port) {
    std::string canonical = "127.0.0.1";
    if (!address.empty()) {
        const std::optional<std::string> ip = platform::CanonicalIpAddress(address);
        // The block server listens on IPv4 only.
        if (!ip || ip->find(':') != std::string::npos) return false;
        canonical = *ip;
    }
    std::lock_guard<std::mutex> guard(state_->lock);
    if (state_->server) return false;
    state_->listenAddress = canonical;
    state_->listenPort = port;
    return true;
}

void Sharing::SetUploadLimit(uint32_t bytesPerSecond, uint32_t connections) {
    std::lock_guard<std::mutex> guard(state_->lock);
    if (bytesPerSecond == kUploadUnlimited) {
        state_->uploadRate = 0;
    } else if (bytesPerSecond > 0) {
        state_->uploadRate = bytesPerSecond;
    }
    if (connections > 0) state_->uploads = std::min(connections, kMaxUploadConnections);
    if (state_->server) state_->server->SetUploadLimit(state_->uploadRate, state_->uploads);
}

void Sharing::SetSeedSeconds(uint32_t seconds) {
    std::lock_guard<std::mutex> guard(state_->lock);
    state_->seedSeconds = seconds;
}

bool Sharing::EnsureServer() {
    std::lock_guard<std::mutex> guard(state_->lock);
    if (state_->server) return true;
    if (state_->closed) return false;
    auto server = std::make_unique<engine::BlockServer>();
    server->SetUploadLimit(state_->uploadRate, state_->uploads);
    if (!server->Start(state_->listenAddress, state_->listenPort)) {
        engine::Logger::Instance().Log(
            engine::kLogLevelInfo, "block server: cannot listen on %s:%u",
            state_->listenAddress.c_str(), static_cast<unsigned>(state_->listenPort));
        return false;
    }
    state_->server = std::move(server);
    State* s = state_;
    state_->announcer = std::thread([s] { s->Announce(); });
    std::atexit(ShutdownAtExit);
    return true;
}

uint16_t Sharing::port() {
    std::lock_guard<std::mutex> guard(state_->lock);
    return state_->server ? state_->server->port() : 0;
}

void Sharing::ShareDownload(const SharedFile& file, engine::HeldReader reader,
                            engine::HeldRanges ranges) {
    if (!EnsureServer()) return;
    {
        std::lock_guard<std::mutex> guard(state_->lock);
        if (state_->closed) return;
        Entry& entry = state_->entries[file.key];
        if (entry.seed) return;
        entry.file = file;
    }
    state_->server->Publish(file.key, file.length, std::move(reader), std::move(ranges));
}

void Sharing::Finished(const std::string& key, const std::string& path, bool checked) {
    auto seed = std::make_shared<SeedSource>();
    seed->path = path;
    std::string native;
    bool seeding;
    {
        std::lock_guard<std::mutex> guard(state_->lock);
        seeding = checked && state_->seedSeconds > 0 && !state_->closed && state_->server &&
                  state_->entries.count(key) > 0;
    }
    if (seeding && platform::GetFileFacts(path, seed->stamp).ok() &&
        platform::NativePath(path, native) &&
        platform::PosixFileSystem().Open(native, platform::FileOpenMode::kRead, seed->file) == 0) {
        int64_t length;
        {
            std::lock_guard<std::mutex> guard(state_->lock);
            Entry& entry = state_->entries[key];
            entry.file.length = static_cast<int64_t>(seed->stamp.size);
            length = entry.file.length;
            entry.seed = seed;
            entry.forever = state_->seedSeconds == kSeedWhileTheProcessLives;
            entry.seedUntil = SteadyClock::now() + std::chrono::seconds(state_->seedSeconds);
        }
        state_->server->Publish(
            key, length,
            [seed](int64_t offset, size_t size, char* out) {
                return seed->Read(offset, size, out);
            },
            [length] {
                return std::vector<engine::transfer::ByteRange>{{0, length}};
            });
        engine::Logger::Instance().Log(engine::kLogLevelInfo, "seeding %s as %s", path.c_str(),
                                       key.c_str());
        state_->wake.notify_all();
        return;
    }
    Stop(key);
}

void Sharing::Close() { state_->Shutdown(); }

void Sharing::Stop(const std::string& key) {
    engine::BlockServer* server;
    {
        std::lock_guard<std::mutex> guard(state_->lock);
        server = state_->server.get();
    }
    if (server) server->Withdraw(key);
    std::lock_guard<std::mutex> guard(state_->lock);
    const auto found = state_->entries.find(key);
    if (found == state_->entries.end()) return;
    if (found->second.announced) state_->withdrawals.push_back(key);
    state_->entries.erase(found);
    state_->wake.notify_all();
}

uint32_t Sharing::SeedingCount() {
    std::lock_guard<std::mutex> guard(state_->lock);
    return static_cast<uint32_t>(std::count_if(state_->entries.begin(), state_->entries.end(),
                                               [](const auto& e) { return e.second.seed; }));
}

bool Sharing::State::Post(const std::string& path, const std::string& body,
                          uint32_t deadlineSeconds, std::string& answer,
                          platform::SocketInterrupt* interrupt) {
    engine::LookupPost post;
    if (!SplitLookupServer(CurrentSettings().lookupServer, post.host, post.port)) return false;
    post.path = path;
    post.body = body;
    post.connectTimeoutSeconds = std::min<uint32_t>(5, deadlineSeconds);
    post.noDataTimeoutSeconds = deadlineSeconds;
    post.deadlineSeconds = deadlineSeconds;
    post.interrupt = interrupt;
    const bool answered = engine::PostLookupForm(post, answer);
    engine::Logger::Instance().Log(engine::kLogLevelInfo, "lookup %s %s: %s", path.c_str(),
                                   body.c_str(), answered ? answer.c_str() : "no answer");
    return answered;
}

// Seeds whose time is over, or whose file changed, are no longer served.
void Sharing::State::EndSeeds() {
    std::vector<std::string> ended;
    {
        std::lock_guard<std::mutex> guard(lock);
        const auto now = SteadyClock::now();
        for (auto& [key, entry] : entries) {
            if (entry.seed && ((!entry.forever && now >= entry.seedUntil) || !entry.seed->Holds()))
                ended.push_back(key);
        }
    }
    for (const std::string& key : ended) {
        engine::Logger::Instance().Log(engine::kLogLevelInfo, "seeding of %s ends", key.c_str());
        Sharing::Instance().Stop(key);
    }
}

void Sharing::State::Announce() {
    std::unique_lock<std::mutex> guard(lock);
    while (!closed) {
        wake.wait_for(guard, kTick);
        if (closed) break;
        guard.unlock();
        EndSeeds();
        // What the block server holds of each file, asked without the lock: it reads
        // through the transfers.
        std::vector<std::string> keys;
        guard.lock();
        for (const auto& [key, entry] : entries) keys.push_back(key);
        const uint16_t serverPort = server->port();
        guard.unlock();
        std::map<std::string, int64_t> held;
        for (const std::string& key : keys) {
            int64_t bytes = 0;
            if (const auto ranges = server->Held(key))
                for (const auto& r : *ranges) bytes += r.size();
            held[key] = bytes;
        }
        guard.lock();
        const auto now = SteadyClock::now();
        std::vector<Due> due;
        for (auto& [key, entry] : entries) {
            const auto found = held.find(key);
            if (found == held.end() || found->second <= 0 || entry.file.length <= 0) continue;
            const bool complete = found->second >= entry.file.length;
            if (entry.announced && now < entry.nextAnnounce &&
                complete == entry.announcedComplete) {
                continue;
            }
            engine::Announcement a;
            a.key = key;
            a.port = serverPort;
            a.length = entry.file.length;
            a.held = std::min(found->second, entry.file.length);
            a.md5 = entry.file.md5;
            a.url = entry.file.url;
            a.complete = complete;
            due.push_back({a, complete});
            // Not again before the answer is in.
            entry.nextAnnounce = now + kRetryAfterFailure;
        }
        std::vector<std::string> gone = std::move(withdrawals);
        withdrawals.clear();
        guard.unlock();
        for (const std::string& key : gone) {
            std::string answer;
            Post("withdraw", engine::BuildWithdrawBody(serverPort, key), kAnnounceDeadlineSeconds,
                 answer, &stopRequests);
        }
        for (const Due& d : due) {
            std::string answer;
            std::optional<uint32_t> ttl;
            if (Post("announce", engine::BuildAnnounceBody(d.announcement),
                     kAnnounceDeadlineSeconds, answer, &stopRequests)) {
                ttl = engine::ParseAnnounceAnswer(answer);
            }
            std::lock_guard<std::mutex> relock(lock);
            const auto found = entries.find(d.announcement.key);
            if (!ttl || found == entries.end()) continue;
            anythingAnnounced = true;
            Entry& entry = found->second;
            entry.announced = true;
            entry.announcedComplete = d.complete;
            entry.nextAnnounce =
                SteadyClock::now() + std::clamp<SteadyClock::duration>(
                                         std::chrono::seconds(*ttl / 3), kMinRenewal, kMaxRenewal);
        }
        guard.lock();
    }
}

// At the process's end: everything is withdrawn at once (one request for the port), and the
// block server stops.
void Sharing::State::Shutdown() {
    bool announcedAny;
    {
        std::lock_guard<std::mutex> guard(lock);
        if (closed || !server) {
            closed = true;
            return;
        }
        closed = true;
        announcedAny = anythingAnnounced || !withdrawals.empty();
    }
    wake.notify_all();
    stopRequests.Interrupt();
    if (announcer.joinable()) announcer.join();
    if (announcedAny) {
        std::string answer;
        Post("withdraw", engine::BuildWithdrawBody(server->port(), ""), kExitDeadlineSeconds,
             answer, nullptr);
    }
    server->Stop();
}

}  // namespace tarn
