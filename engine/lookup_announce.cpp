#include "engine/lookup_announce.h"

#include <charconv>

#include "engine/peer_lookup.h"

namespace engine {

std::string BuildAnnounceBody(const Announcement& a) {
    std::string body = "key=" + FormEscape(a.key) + "&port=" + std::to_string(a.port) +
                       "&length=" + std::to_string(a.length) + "&held=" + std::to_string(a.held) +
                       "&complete=" + (a.complete ? "1" : "0");
    if (!a.md5.empty()) body += "&md5=" + FormEscape(a.md5);
    if (!a.url.empty()) body += "&url=" + FormEscape(a.url);
    return body;
}

std::string BuildWithdrawBody(uint16_t port, const std::string& key) {
    std::string body = "port=" + std::to_string(port);
    if (!key.empty()) body += "&key=" + FormEscape(key);
    return body;
}

std::optional<uint32_t> ParseAnnounceAnswer(std::string_view answer) {
    constexpr std::string_view kOk = "OK ttl=";
    if (answer.substr(0, kOk.size()) != kOk) return std::nullopt;
    answer.remove_prefix(kOk.size());
    if (answer.size() >= 2 && answer.substr(answer.size() - 2) == "\r\n") answer.remove_suffix(2);
    uint32_t seconds = 0;
    const auto [end, error] =
        std::from_chars(answer.data(), answer.data() + answer.size(), seconds);
    if (answer.empty() || error != std::errc() || end != answer.data() + answer.size() ||
        seconds == 0) {
        return std::nullopt;
    }
    return seconds;
}

}  // namespace engine
