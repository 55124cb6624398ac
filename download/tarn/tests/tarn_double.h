// A scripted stand-in for the engine's C functions, linked into the adapter's tests: each
// download runs on a thread of its own that announces itself, publishes the scripted
// figures, waits for a number of status polls (or a cancel) and ends with the scripted
// code, sending the two notifications like the engine does.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tarn_double {

struct Script {
    bool failDownloadCall = false;  // TarnDownloadUrl answers 0 and starts nothing
    int64_t total = 1000;
    int64_t done = 500;
    int endAfterPolls = 2;  // negative: only a cancel ends it
    intptr_t endCode = 0;
    uint32_t failure = 0;  // TARN_FAILURE_* in the status block at the end
};

void SetScript(const Script& script);
// What the adapter handed over.
std::string UserId();
uint32_t IpcPort();
std::string LastUrl();
std::string LastFileName();
int LiveTasks();  // created and not yet destroyed
// What the last started download was given besides its URL (-1: no size limit set).
std::vector<std::string> LastMirrors();
std::string LastBlockListSha256();
int64_t LastSizeLimit();
std::string LookupServer();
// The process-wide sharing settings as last set.
struct Sharing {
    std::string listenAddress;
    uint16_t listenPort = 0;
    uint32_t seedSeconds = 0;
    uint32_t uploadBytesPerSecond = 0;
    uint32_t uploadConnections = 0;
};
Sharing SharingSettings();

}  // namespace tarn_double
