#include "engine/source_line.h"

#include <strings.h>

#include <cctype>
#include <set>

namespace engine {
namespace {

bool HasScheme(std::string_view url) {
    for (std::string_view scheme : {"http://", "https://", "ftp://"}) {
        if (url.size() > scheme.size() &&
            strncasecmp(url.data(), scheme.data(), scheme.size()) == 0) {
            return true;
        }
    }
    return false;
}

bool IsName(std::string_view name) {
    if (name.empty()) return false;
    for (unsigned char c : name) {
        if (!std::isalnum(c) && c != '_') return false;
    }
    return true;
}

}  // namespace

std::string SourceLine::Field(std::string_view name) const {
    for (const auto& [key, value] : fields) {
        if (key == name) return value;
    }
    return {};
}

bool ParseSourceLine(std::string_view line, SourceLine& out) {
    const size_t tab = line.find('\t');
    const std::string_view url = line.substr(0, tab);
    if (url.size() > kMaxSourceUrl || !HasScheme(url)) return false;
    for (unsigned char c : url) {
        if (c <= 0x20 || c == 0x7F) return false;
    }
    SourceLine parsed;
    parsed.url = std::string(url);
    std::string_view rest = tab == line.npos ? std::string_view() : line.substr(tab + 1);
    while (!rest.empty()) {
        const size_t next = rest.find('\t');
        const std::string_view field = rest.substr(0, next);
        rest.remove_prefix(next == rest.npos ? rest.size() : next + 1);
        const size_t equals = field.find('=');
        if (equals == field.npos || !IsName(field.substr(0, equals))) continue;
        parsed.fields.emplace_back(field.substr(0, equals), field.substr(equals + 1));
    }
    out = std::move(parsed);
    return true;
}

AnsweredSources SelectSources(const std::vector<std::string>& lines, size_t maxMirrors,
                              size_t maxPeers) {
    AnsweredSources out;
    std::set<std::string> seen;
    for (const std::string& line : lines) {
        SourceLine source;
        if (!ParseSourceLine(line, source)) continue;
        const bool peer = source.Field("kind") == "peer";
        std::vector<std::string>& list = peer ? out.peers : out.mirrors;
        const bool ftp = strncasecmp(source.url.c_str(), "ftp://", 6) == 0;
        if (list.size() >= (peer ? maxPeers : maxMirrors) || (peer && ftp) ||
            !seen.insert(source.url).second) {
            ++out.leftOut;
            continue;
        }
        list.push_back(std::move(source.url));
    }
    return out;
}

}  // namespace engine
