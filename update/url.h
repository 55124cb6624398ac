// URL helpers of the update and repair pipelines: splitting a URL to rebuild it on a
// backup server, escaping file URLs, and normalising relative file paths. All work on
// narrow strings whose file names may hold double-byte (GBK) characters.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/url_scheme.h"

// The scheme of a URL, numbered as everywhere else (platform/url_scheme.h).
using ServiceType = platform::UrlScheme;

struct UrlParts {
    ServiceType type = ServiceType::Unknown;
    std::string server;  // host name only: no user, password or port
    std::string object;  // path and query, always beginning with "/"
    uint16_t port = 0;   // the URL's port, or the scheme's default
};

// Splits `url`. False (type Unknown) when it has no recognisable scheme, no server where
// the scheme needs one, or a port that is not a number from 1 to 65535.
bool SplitUrl(std::string_view url, UrlParts& parts);

// "http", "https", "ftp", "gopher", "file", "mailto" or "nntp"; nullptr for any other
// service type, whose URLs are not rebuilt.
const char* SchemeText(ServiceType type);

// "scheme://server" followed by the object; the port of the original URL is not kept.
std::string RebuildUrl(std::string_view scheme, std::string_view server, std::string_view object);

// The URL itself, then the same object on each backup server in turn; the URL alone when
// its service type is one whose URLs are not rebuilt.
std::vector<std::string> UrlOnEveryServer(const std::string& url,
                                          const std::vector<std::string>& backupServers);

// Keeps letters, digits and : \ / . ? & # @; every other byte becomes "%XX".
std::string EscapeUrl(std::string_view text);

// Optionally lower-cases ASCII letters and turns "\" into "/", leaving both bytes of every
// double-byte character alone.
std::string NormalisePath(std::string_view text, bool toLower, bool toForwardSlash);
