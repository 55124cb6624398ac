// The URL schemes the launcher tells apart, with one number each wherever a URL is split
// (the update pipeline's URL helpers, the HTTP downloader), their default ports and whether
// a URL of the scheme names a server. The numbers never leave the process.
#pragma once

#include <cstdint>
#include <string_view>

namespace platform {

enum class UrlScheme : int32_t {
    Unknown = -1,
    Ftp = 1,
    Gopher = 2,
    Http = 3,
    Https = 4,
    File = 5,
    News = 6,
    Mailto = 7,
    Nntp = 8,
    Telnet = 9,
    Wais = 10,
    Prospero = 11,
    Afs = 12,
    Mid = 13,
    Cid = 14,
};

struct UrlSchemeInfo {
    const char* name;  // lower case, as URLs are rebuilt with it
    UrlScheme scheme;
    uint16_t defaultPort;  // 0: none
    bool needsServer;      // "scheme://server/..." rather than "scheme:..."
};

// The scheme called `name` (ASCII letter case ignored); nullptr for any other.
const UrlSchemeInfo* FindUrlScheme(std::string_view name);
// The entry of `scheme`; nullptr for Unknown.
const UrlSchemeInfo* UrlSchemeOf(UrlScheme scheme);

}  // namespace platform
