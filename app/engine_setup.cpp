#include "app/engine_setup.h"

#include <limits>

#include "update/patch_info.h"

EngineProcessSettings EngineSettingsOf(const EngineConfig& config) {
    EngineProcessSettings settings;
    settings.lookupServer = config.lookupServer;
    // "ADDRESS:PORT", the address perhaps in brackets; a value of another form leaves the
    // engine's default.
    const size_t colon = config.peerListen.rfind(':');
    const std::optional<uint64_t> port = colon == std::string::npos
                                             ? std::nullopt
                                             : ParseDecimal(config.peerListen.substr(colon + 1));
    if (port && *port <= std::numeric_limits<uint16_t>::max() && colon > 0) {
        std::string address = config.peerListen.substr(0, colon);
        if (address.size() > 2 && address.front() == '[' && address.back() == ']')
            address = address.substr(1, address.size() - 2);
        settings.peerAddress = address;
        settings.peerPort = static_cast<uint16_t>(*port);
    }
    settings.seedSeconds = config.seed ? kSeedWhileTheProcessLives : 0;
    const uint64_t bytes = uint64_t{config.uploadKiBPerSecond} * 1024;
    settings.uploadBytesPerSecond =
        static_cast<uint32_t>(std::min<uint64_t>(bytes, std::numeric_limits<uint32_t>::max()));
    settings.uploadConnections = config.uploadConnections;
    return settings;
}

bool SetUpEngine(const EngineConfig& config) {
    return config.enabled && UseEngineInProcess(EngineSettingsOf(config));
}
