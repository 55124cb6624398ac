// What the process gives to other engines: one block server, bound where TarnSetPeerListen
// says (the loopback by default) and started on first need; the files it publishes (the
// checked bytes of running downloads, finished files while they are seeded); their
// announcements at the lookup server, renewed well within the time to live it gives, and
// their withdrawal; the upload limit. A seeded file is served from where it was put, and
// only while its size and modification time are those it had when it was finished.
//
// Ends with the process: an atexit handler withdraws everything at the lookup server (one
// request, at most a few seconds) and stops the block server.
//
// Thread safety: every member may be called from any thread.
#pragma once

#include <cstdint>
#include <string>

#include "engine/block_server.h"

namespace tarn {

// The upload limit when the caller sets none: a player's uplink stays free for the game.
inline constexpr uint64_t kDefaultUploadBytesPerSecond = 1 << 20;
inline constexpr uint32_t kDefaultUploadConnections = 8;
inline constexpr uint32_t kMaxUploadConnections = 64;
inline constexpr uint32_t kSeedWhileTheProcessLives = 0xFFFFFFFFu;
inline constexpr uint32_t kUploadUnlimited = 0xFFFFFFFFu;

// A file as it is announced.
struct SharedFile {
    std::string key;  // engine::BlockKey
    int64_t length = 0;
    std::string md5;  // "" when not known
    std::string url;
};

class Sharing {
  public:
    static Sharing& Instance();

    // Where the block server listens once it starts ("": the loopback); false when it runs
    // already, or the address is not a literal IPv4 address.
    bool SetListen(const std::string& address, uint16_t port);
    // Bytes per second (kUploadUnlimited: none) and uploads at once; 0 keeps either.
    void SetUploadLimit(uint32_t bytesPerSecond, uint32_t connections);
    void SetSeedSeconds(uint32_t seconds);
    // Starts the block server when it does not run; false when it cannot listen.
    bool EnsureServer();
    uint16_t port();  // 0 when the block server does not run

    // Serves a running download's checked bytes and announces them once there are any,
    // replacing what a download published under the key before. A seeded file of the key
    // stays as it is: it holds everything.
    void ShareDownload(const SharedFile& file, engine::HeldReader reader,
                       engine::HeldRanges ranges);
    // The download of `key` has put its file at `path`; `checked`: its bytes passed a check
    // (a block list or the MD5). Seeds it for the seeding time, else stops sharing it.
    void Finished(const std::string& key, const std::string& path, bool checked);
    // Stops serving `key` (returns once no read of it is under way) and withdraws it at the
    // lookup server.
    void Stop(const std::string& key);
    // Files being seeded now.
    uint32_t SeedingCount();
    // The process's end (atexit): withdraws everything at the lookup server and stops the
    // block server; later calls change nothing.
    void Close();

  private:
    Sharing();
    struct State;
    State* state_;  // never freed: it serves until the process ends
};

}  // namespace tarn
