// The engine used by the program that carries it, for its own downloads. The engine's
// settings are the process's: set them once, before the first downloader of kind 1 is made.
#pragma once

#include <cstdint>
#include <string>

inline constexpr uint32_t kSeedWhileTheProcessLives = 0xFFFFFFFF;

struct EngineProcessSettings {
    std::string lookupServer;  // "HOST:PORT" of the lookup service; empty: none
    // Where the engine serves what it holds to other engines; an empty address: the
    // engine's default. Port 0: a free one.
    std::string peerAddress;
    uint16_t peerPort = 0;
    // How long a fetched file is still served once its download has ended (0: not at all;
    // kSeedWhileTheProcessLives: while this process runs).
    uint32_t seedSeconds = 0;
    // For what others fetch from this process; 0: the engine's default.
    uint32_t uploadBytesPerSecond = 0;
    uint32_t uploadConnections = 0;
};

// Sets the engine up for this process's own downloads: afterwards CreateDownloader(1)
// gives a working downloader without the outside engine service's port ("IPCPort"), which
// only the commit record to that service needs. False, and nothing changes, when the engine
// is not linked into the program.
bool UseEngineInProcess(const EngineProcessSettings& settings);

// Whether UseEngineInProcess has succeeded in this process.
bool EngineInProcess();
