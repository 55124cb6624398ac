#include "download/tarn/engine_in_process.h"

#include <atomic>

// Weak references, as in the downloader: without the engine their addresses are null.
extern "C" {
__attribute__((weak)) int32_t TarnInitLibrary(void);
__attribute__((weak)) void TarnSetLookupServer(const char* hostAndPort);
}

namespace {
std::atomic<bool> g_inProcess{false};
}

bool UseEngineInProcess(const EngineProcessSettings& settings) {
    if (!TarnInitLibrary || !TarnSetLookupServer || !TarnInitLibrary()) return false;
    TarnSetLookupServer(settings.lookupServer.c_str());
    g_inProcess = true;
    return true;
}

bool EngineInProcess() { return g_inProcess.load(); }
