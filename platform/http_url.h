// Checking and splitting the URLs that the HTTP downloader is given.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

// Scheme numbers as the downloader records them; any other scheme is kUnknownScheme.
enum UrlScheme : int32_t {
    kUnknownScheme = -1,
    kSchemeFtp = 1,
    kSchemeGopher = 2,
    kSchemeHttp = 3,
    kSchemeHttps = 4,
    kSchemeFile = 5,
    kSchemeNews = 6,
    kSchemeMailto = 7,
};

struct HttpUrl {
    std::string canonical;  // the URL with unsafe bytes escaped, as it is requested
    int32_t scheme = kUnknownScheme;
    std::string host;
    std::string object;  // path and query, beginning with "/"
    uint16_t port = 80;
};

// Canonicalises (escapes spaces and bytes above 0x7F, as browsers do) and splits `url`.
// False when the URL cannot be parsed, its scheme is unknown, or its host or object would
// not fit the downloader's buffers (`maxHost`, `maxObject` bytes, terminator included).
bool ParseDownloadUrl(std::string_view url, size_t maxHost, size_t maxObject, HttpUrl& out);

}  // namespace platform
