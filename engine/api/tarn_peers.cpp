#include "tarn_peers.h"

#include <vector>

#include "engine/block_server.h"
#include "engine/logger.h"
#include "engine/peer_lookup.h"
#include "engine/source_line.h"
#include "platform/ascii_text.h"
#include "tarn_sharing.h"

bool SplitLookupServer(const std::string& text, std::string& host, uint16_t& port) {
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

LookupSources AskLookup(const tarn::ProcessSettings& settings, const std::string& url,
                        const std::string& target, platform::SocketInterrupt* interrupt) {
    LookupSources urls;
    if (settings.lookupServer.empty() || url.empty()) return urls;
    engine::LookupRequest request;
    if (!SplitLookupServer(settings.lookupServer, request.host, request.port)) {
        engine::Logger::Instance().Log(engine::kLogLevelInfo, "lookup server unusable: %s",
                                       settings.lookupServer.c_str());
        return urls;
    }
    request.url = url;
    request.userId = settings.userId.empty() ? "0" : settings.userId;
    request.interrupt = interrupt;
    request.ownPort = tarn::Sharing::Instance().port();
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
    tarn::Sharing& sharing = tarn::Sharing::Instance();
    if (!sharing.EnsureServer()) return "";
    const engine::TransferStatus st = transfer.status();
    tarn::SharedFile file;
    file.key = engine::BlockKey(md5, st.url);
    file.length = st.total;
    file.md5 = platform::LowerAscii(md5);
    file.url = st.url;
    sharing.ShareDownload(
        file,
        [&transfer](int64_t offset, size_t size, char* out) {
            return transfer.ReadHeld(offset, size, out);
        },
        [&transfer] { return transfer.CheckedRanges(); });
    return file.key;
}

void FinishPublished(const std::string& key, const std::string& target, bool checked) {
    if (!key.empty()) tarn::Sharing::Instance().Finished(key, target, checked);
}

void WithdrawPublished(const std::string& key) {
    if (!key.empty()) tarn::Sharing::Instance().Stop(key);
}

uint32_t BlockServerPort() { return tarn::Sharing::Instance().port(); }
