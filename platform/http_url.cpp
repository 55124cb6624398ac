#include "platform/http_url.h"

#include <curl/curl.h>

#include <cstdlib>
#include <memory>
#include <string_view>

#include "platform/http_global.h"

namespace platform {
namespace {

struct UrlDeleter {
    void operator()(CURLU* u) const { curl_url_cleanup(u); }
};
struct CurlStringDeleter {
    void operator()(char* s) const { curl_free(s); }
};
using CurlString = std::unique_ptr<char, CurlStringDeleter>;

CurlString GetPart(CURLU* url, CURLUPart part, unsigned flags) {
    char* value = nullptr;
    if (curl_url_get(url, part, &value, flags) != CURLUE_OK) return nullptr;
    return CurlString(value);
}

// The schemes the downloader records; curl gives the scheme in lower case.
UrlScheme DownloadScheme(std::string_view name) {
    static constexpr UrlScheme kRecorded[] = {
        UrlScheme::Ftp,  UrlScheme::Gopher, UrlScheme::Http,   UrlScheme::Https,
        UrlScheme::File, UrlScheme::News,   UrlScheme::Mailto,
    };
    const UrlSchemeInfo* info = FindUrlScheme(name);
    if (info == nullptr || name != info->name) return UrlScheme::Unknown;
    for (UrlScheme s : kRecorded) {
        if (s == info->scheme) return s;
    }
    return UrlScheme::Unknown;
}

}  // namespace

bool ParseDownloadUrl(std::string_view url, size_t maxHost, size_t maxObject, HttpUrl& out) {
    out = HttpUrl{};
    EnsureHttpGlobalInit();
    std::unique_ptr<CURLU, UrlDeleter> handle(curl_url());
    if (!handle || url.empty()) return false;
    const std::string text(url);
    if (text.find('\0') != std::string::npos) return false;
    if (curl_url_set(handle.get(), CURLUPART_URL, text.c_str(),
                     CURLU_NON_SUPPORT_SCHEME | CURLU_URLENCODE) != CURLUE_OK) {
        return false;
    }
    CurlString scheme = GetPart(handle.get(), CURLUPART_SCHEME, 0);
    CurlString host = GetPart(handle.get(), CURLUPART_HOST, 0);
    CurlString port = GetPart(handle.get(), CURLUPART_PORT, CURLU_DEFAULT_PORT);
    CurlString path = GetPart(handle.get(), CURLUPART_PATH, 0);
    CurlString query = GetPart(handle.get(), CURLUPART_QUERY, 0);
    CurlString full = GetPart(handle.get(), CURLUPART_URL, 0);
    if (!scheme || !host || !path || !full) return false;
    out.scheme = DownloadScheme(scheme.get());
    if (out.scheme == UrlScheme::Unknown) return false;
    out.host = host.get();
    out.object = path.get();
    if (query) out.object += std::string("?") + query.get();
    if (port) out.port = static_cast<uint16_t>(std::strtoul(port.get(), nullptr, 10));
    out.canonical = full.get();
    return out.host.size() < maxHost && out.object.size() < maxObject;
}

}  // namespace platform
