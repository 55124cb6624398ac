// One source line of a lookup answer: where else the file can be fetched.
//
//   URL [TAB NAME=VALUE]...
//
// URL is an "http://", "https://" or "ftp://" address (scheme without regard to case) of
// at most kMaxSourceUrl bytes, without blanks or control bytes. Each field after a TAB is
// NAME=VALUE with a non-empty name of letters, digits and "_"; a field that is not one is
// skipped, so that a newer server may add fields. A line whose URL is unusable is refused.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace engine {

inline constexpr size_t kMaxSourceUrl = 2083;

struct SourceLine {
    std::string url;
    std::vector<std::pair<std::string, std::string>> fields;

    // The value of the first field `name`, "" when there is none.
    std::string Field(std::string_view name) const;
};

bool ParseSourceLine(std::string_view line, SourceLine& out);

// The sources a task takes from one lookup answer: the lines that parse, in order, each URL
// once (compared as written; the first line naming it decides its kind), at most
// `maxMirrors` whole copies and `maxPeers` peers ("kind=peer", http or https only); the
// rest is left out. An answer may hold tens of thousands of lines: O(n log n).
struct AnsweredSources {
    std::vector<std::string> mirrors;
    std::vector<std::string> peers;
    size_t leftOut = 0;  // parsed lines not taken (duplicates, over the caps, ftp peers)
};
AnsweredSources SelectSources(const std::vector<std::string>& lines, size_t maxMirrors,
                              size_t maxPeers);

}  // namespace engine
