#include "tarn_peers.h"

#include <memory>
#include <mutex>
#include <vector>

#include "engine/block_server.h"
#include "engine/logger.h"
#include "engine/peer_lookup.h"
#include "engine/source_line.h"

namespace {

bool SplitHostPort(const std::string& text, std::string& host, uint16_t& port) {
    const size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0) return false;
    const std::string digits = text.substr(colon + 1);
    if (digits.empty() || digits.size() > 5) return false;
    uint32_t value = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + static_cast<uint32_t>(c - '0');
    }
    if (value == 0 || value > 65535) return false;
    host = text.substr(0, colon);
    port = static_cast<uint16_t>(value);
    return true;
}

std::mutex gServerLock;
std::unique_ptr<engine::BlockServer> gServer;  // guarded by gServerLock

engine::BlockServer* Server() {
    std::lock_guard<std::mutex> guard(gServerLock);
    if (!gServer) {
        auto server = std::make_unique<engine::BlockServer>();
        if (!server->Start("127.0.0.1")) return nullptr;
        gServer = std::move(server);
    }
    return gServer.get();
}

}  // namespace

LookupSources AskLookup(const tarn::ProcessSettings& settings, const std::string& url,
                        const std::string& target, platform::SocketInterrupt* interrupt) {
    LookupSources urls;
    if (settings.lookupServer.empty() || url.empty()) return urls;
    engine::LookupRequest request;
    if (!SplitHostPort(settings.lookupServer, request.host, request.port)) {
        engine::Logger::Instance().Log(engine::kLogLevelInfo, "lookup server unusable: %s",
                                       settings.lookupServer.c_str());
        return urls;
    }
    request.url = url;
    request.userId = settings.userId.empty() ? "0" : settings.userId;
    request.interrupt = interrupt;
    int64_t size = -1;
    std::string md5;
    std::vector<std::string> lines;
    const int code = engine::QueryFileSources(request, size, md5, lines);
    engine::Logger::Instance().Log(engine::kLogLevelInfo, "lookup for %s: code %d, %zu sources",
                                   target.c_str(), code, lines.size());
    if (code != engine::kLookupOk) return urls;
    engine::AnsweredSources taken =
        engine::SelectSources(lines, engine::kMaxLookupMirrors, engine::kMaxLookupPeers);
    if (taken.leftOut > 0)
        engine::Logger::Instance().Log(engine::kLogLevelInfo,
                                       "lookup for %s: %zu source lines left out", target.c_str(),
                                       taken.leftOut);
    urls.length = size > 0 ? size : -1;
    urls.md5 = md5;
    urls.mirrors = std::move(taken.mirrors);
    urls.peers = std::move(taken.peers);
    return urls;
}

bool GiveLookupSources(engine::MultiSourceTransfer& transfer, const LookupSources& found) {
    transfer.NoteLookupAnswer(found.length, found.md5);
    const bool mirrorsTaken = transfer.AddSources(found.mirrors, engine::SourceRole::LookupMirror);
    const bool peersTaken = transfer.AddSources(found.peers, engine::SourceRole::LookupPeer);
    return mirrorsTaken && peersTaken;
}

std::string PublishHeld(engine::MultiSourceTransfer& transfer, const std::string& md5) {
    if (tarn::CurrentSettings().lookupServer.empty()) return "";
    engine::BlockServer* server = Server();
    if (!server) return "";
    const engine::TransferStatus st = transfer.status();
    const std::string key = engine::BlockKey(md5, st.url);
    server->Publish(key, st.total, [&transfer](int64_t offset, size_t size, char* out) {
        return transfer.ReadHeld(offset, size, out);
    });
    return key;
}

void WithdrawPublished(const std::string& key) {
    if (key.empty()) return;
    std::lock_guard<std::mutex> guard(gServerLock);
    if (gServer) gServer->Withdraw(key);
}

uint32_t BlockServerPort() {
    std::lock_guard<std::mutex> guard(gServerLock);
    return gServer ? gServer->port() : 0;
}
