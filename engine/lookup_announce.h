// What an engine tells the lookup server of the files its block server serves (the lookup
// protocol, docs/formats/lookup-protocol.md):
//   POST /announce   key=KEY&port=PORT&length=N&held=N&complete=0|1[&md5=MD5][&url=URL]
//                    answered "OK ttl=SECONDS": the announcement lives that long unless
//                    announced again
//   POST /withdraw   port=PORT[&key=KEY]   (without a key: every file at that port)
//                    answered "OK"
// `held` counts only bytes that passed their checks, so that the server names as peers
// only engines that hold something to give.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace engine {

struct Announcement {
    std::string key;  // the block server's key of the file (BlockKey)
    uint16_t port = 0;
    int64_t length = 0;
    int64_t held = 0;
    std::string md5;  // "" when not known
    std::string url;  // "" when not known
    bool complete = false;
};

std::string BuildAnnounceBody(const Announcement& a);
std::string BuildWithdrawBody(uint16_t port, const std::string& key);
// The time to live of an "OK ttl=SECONDS" answer; none for another answer.
std::optional<uint32_t> ParseAnnounceAnswer(std::string_view answer);

}  // namespace engine
