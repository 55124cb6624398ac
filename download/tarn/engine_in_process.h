// The engine used by the program that carries it, for its own downloads. The engine's
// settings are the process's: set them once, before the first downloader of kind 1 is made.
#pragma once

#include <cstdint>
#include <string>

struct EngineProcessSettings {
    std::string lookupServer;  // "HOST:PORT" of the lookup service; empty: none
};

// Sets the engine up for this process's own downloads: afterwards CreateDownloader(1)
// gives a working downloader without the outside engine service's port ("IPCPort"), which
// only the commit record to that service needs. False, and nothing changes, when the engine
// is not linked into the program.
bool UseEngineInProcess(const EngineProcessSettings& settings);

// Whether UseEngineInProcess has succeeded in this process.
bool EngineInProcess();
