#include "update/url.h"

#include <cctype>
#include <cstdio>

#include "platform/text_encoding.h"

namespace {

bool ParsePort(std::string_view digits, uint16_t& port) {
    if (digits.empty() || digits.size() > 5) return false;
    unsigned value = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (value == 0 || value > 65535) return false;
    port = static_cast<uint16_t>(value);
    return true;
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
    return s;
}

}  // namespace

bool SplitUrl(std::string_view url, UrlParts& parts) {
    parts = UrlParts{};
    url = Trim(url);
    size_t colon = url.find(':');
    if (colon == std::string_view::npos || colon == 0) return false;
    const platform::UrlSchemeInfo* scheme = platform::FindUrlScheme(url.substr(0, colon));
    if (scheme == nullptr) return false;

    std::string_view rest = url.substr(colon + 1);
    if (rest.substr(0, 2) != "//") {
        // Only schemes without a server ("mailto:x@y") may omit the "//".
        if (scheme->needsServer) return false;
        parts.type = scheme->scheme;
        parts.object = std::string(rest.empty() || rest[0] != '/' ? "/" : "") + std::string(rest);
        parts.port = scheme->defaultPort;
        return true;
    }
    rest.remove_prefix(2);
    size_t end = rest.find_first_of("/?#");
    std::string_view authority = rest.substr(0, end);
    std::string_view object = end == std::string_view::npos ? std::string_view() : rest.substr(end);

    size_t at = authority.rfind('@');
    if (at != std::string_view::npos) authority.remove_prefix(at + 1);
    std::string_view host = authority;
    uint16_t port = scheme->defaultPort;
    size_t portColon = authority.rfind(':');
    size_t bracket = authority.rfind(']');
    if (portColon != std::string_view::npos &&
        (bracket == std::string_view::npos || portColon > bracket)) {
        host = authority.substr(0, portColon);
        if (!ParsePort(authority.substr(portColon + 1), port)) return false;
    }
    if (host.empty() && scheme->needsServer) return false;

    parts.type = scheme->scheme;
    parts.server.assign(host);
    parts.object =
        object.empty() || object[0] != '/' ? "/" + std::string(object) : std::string(object);
    parts.port = port;
    return true;
}

const char* SchemeText(ServiceType type) {
    switch (type) {
        case ServiceType::Http:
            return "http";
        case ServiceType::Https:
            return "https";
        case ServiceType::Ftp:
            return "ftp";
        case ServiceType::Gopher:
            return "gopher";
        case ServiceType::File:
            return "file";
        case ServiceType::Mailto:
            return "mailto";
        case ServiceType::Nntp:
            return "nntp";
        default:
            return nullptr;
    }
}

std::string RebuildUrl(std::string_view scheme, std::string_view server, std::string_view object) {
    std::string url;
    url.reserve(scheme.size() + 3 + server.size() + object.size());
    url.append(scheme).append("://").append(server).append(object);
    return url;
}

std::vector<std::string> UrlOnEveryServer(const std::string& url,
                                          const std::vector<std::string>& backupServers) {
    std::vector<std::string> urls{url};
    UrlParts parts;
    SplitUrl(url, parts);
    const char* scheme = SchemeText(parts.type);
    if (scheme == nullptr) return urls;
    for (const std::string& server : backupServers)
        urls.push_back(RebuildUrl(scheme, server, parts.object));
    return urls;
}

std::string EscapeUrl(std::string_view text) {
    std::string out;
    out.reserve(text.size() * 3);
    for (unsigned char c : text) {
        bool keep = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                    c == ':' || c == '\\' || c == '/' || c == '.' || c == '?' || c == '&' ||
                    c == '#' || c == '@';
        if (keep) {
            out.push_back(static_cast<char>(c));
        } else {
            char hex[4];
            std::snprintf(hex, sizeof(hex), "%%%02X", c);
            out.append(hex);
        }
    }
    return out;
}

std::string NormalisePath(std::string_view text, bool toLower, bool toForwardSlash) {
    std::string out(text);
    if (out.empty() || (!toLower && !toForwardSlash)) return out;
    size_t i = 0;
    while (i < out.size()) {
        unsigned char c = static_cast<unsigned char>(out[i]);
        if (toLower && c >= 'A' && c <= 'Z') {
            out[i] = static_cast<char>(c + 32);
            ++i;
        } else if (c == '\\' && toForwardSlash) {
            out[i] = '/';
            ++i;
        } else if (platform::IsGbkLeadByte(c)) {
            i += 2;  // the trail byte may look like "\" or a letter: leave it
        } else {
            ++i;
        }
    }
    return out;
}
