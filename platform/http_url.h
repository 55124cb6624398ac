// Checking and splitting the URLs that the HTTP downloader is given.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/url_scheme.h"

namespace platform {

struct HttpUrl {
    std::string canonical;  // the URL with unsafe bytes escaped, as it is requested
    // ftp, gopher, http, https, file, news or mailto; any other is refused.
    UrlScheme scheme = UrlScheme::Unknown;
    std::string host;
    std::string object;  // path and query, beginning with "/"
    uint16_t port = 80;
};

// Canonicalises (escapes spaces and bytes above 0x7F, as browsers do) and splits `url`.
// False when the URL cannot be parsed, its scheme is unknown, or its host or object would
// not fit the downloader's buffers (`maxHost`, `maxObject` bytes, terminator included).
bool ParseDownloadUrl(std::string_view url, size_t maxHost, size_t maxObject, HttpUrl& out);

}  // namespace platform
