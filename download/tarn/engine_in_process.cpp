#include "download/tarn/engine_in_process.h"

#include <atomic>

// Weak references, as in the downloader: without the engine their addresses are null. The
// sharing settings are optional: an engine without them still downloads.
extern "C" {
__attribute__((weak)) int32_t TarnInitLibrary(void);
__attribute__((weak)) void TarnSetLookupServer(const char* hostAndPort);
__attribute__((weak)) int32_t TarnSetPeerListen(const char* address, uint16_t port);
__attribute__((weak)) void TarnSetSeedSeconds(uint32_t seconds);
__attribute__((weak)) void TarnSetUploadLimit(uint32_t bytesPerSecond, uint32_t connections);
}

namespace {
std::atomic<bool> g_inProcess{false};
}

bool UseEngineInProcess(const EngineProcessSettings& settings) {
    if (!TarnInitLibrary || !TarnSetLookupServer || !TarnInitLibrary()) return false;
    TarnSetLookupServer(settings.lookupServer.c_str());
    // An address the engine cannot listen on leaves its default (this machine only): the
    // downloads themselves do not depend on it.
    if (TarnSetPeerListen && (!settings.peerAddress.empty() || settings.peerPort != 0))
        TarnSetPeerListen(settings.peerAddress.c_str(), settings.peerPort);
    if (TarnSetSeedSeconds) TarnSetSeedSeconds(settings.seedSeconds);
    if (TarnSetUploadLimit &&
        (settings.uploadBytesPerSecond != 0 || settings.uploadConnections != 0))
        TarnSetUploadLimit(settings.uploadBytesPerSecond, settings.uploadConnections);
    g_inProcess = true;
    return true;
}

bool EngineInProcess() { return g_inProcess.load(); }
