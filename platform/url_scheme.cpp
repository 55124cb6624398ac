#include "platform/url_scheme.h"

#include "platform/ascii_text.h"

namespace platform {
namespace {

constexpr UrlSchemeInfo kSchemes[] = {
    {"http", UrlScheme::Http, 80, true},
    {"https", UrlScheme::Https, 443, true},
    {"ftp", UrlScheme::Ftp, 21, true},
    {"gopher", UrlScheme::Gopher, 70, true},
    {"file", UrlScheme::File, 0, false},
    {"mailto", UrlScheme::Mailto, 0, false},
    {"news", UrlScheme::News, 119, false},
    {"nntp", UrlScheme::Nntp, 119, true},
    {"telnet", UrlScheme::Telnet, 23, true},
    {"wais", UrlScheme::Wais, 210, true},
    {"prospero", UrlScheme::Prospero, 1525, true},
    {"afs", UrlScheme::Afs, 0, true},
    {"mid", UrlScheme::Mid, 0, false},
    {"cid", UrlScheme::Cid, 0, false},
};

}  // namespace

const UrlSchemeInfo* FindUrlScheme(std::string_view name) {
    for (const UrlSchemeInfo& s : kSchemes) {
        if (EqualsIgnoringAsciiCase(name, s.name)) return &s;
    }
    return nullptr;
}

const UrlSchemeInfo* UrlSchemeOf(UrlScheme scheme) {
    for (const UrlSchemeInfo& s : kSchemes) {
        if (s.scheme == scheme) return &s;
    }
    return nullptr;
}

}  // namespace platform
