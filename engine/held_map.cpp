#include "engine/held_map.h"

#include <algorithm>
#include <charconv>

namespace engine {
namespace {

// A plain decimal: digits only, no leading zero unless it is "0", at most 18 digits.
bool ReadNumber(std::string_view text, int64_t& out) {
    if (text.empty() || text.size() > 18 || (text.size() > 1 && text[0] == '0') ||
        text.find_first_not_of("0123456789") != std::string_view::npos) {
        return false;
    }
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), out);
    return error == std::errc() && end == text.data() + text.size();
}

// Splits off the next line (without its "\r\n"); false when there is no line end.
bool NextLine(std::string_view& text, std::string_view& line) {
    const size_t end = text.find("\r\n");
    if (end == std::string_view::npos) return false;
    line = text.substr(0, end);
    text.remove_prefix(end + 2);
    return true;
}

}  // namespace

int64_t HeldMap::heldBytes() const {
    int64_t held = 0;
    for (const transfer::ByteRange& r : ranges) held += r.size();
    return held;
}

std::string FormatHeldMap(int64_t length, std::vector<transfer::ByteRange> ranges) {
    std::sort(
        ranges.begin(), ranges.end(),
        [](const transfer::ByteRange& a, const transfer::ByteRange& b) { return a.from < b.from; });
    std::vector<transfer::ByteRange> joined;
    for (transfer::ByteRange r : ranges) {
        r.from = std::max<int64_t>(r.from, 0);
        r.to = std::min(r.to, length);
        if (r.to <= r.from) continue;
        if (!joined.empty() && r.from <= joined.back().to) {
            joined.back().to = std::max(joined.back().to, r.to);
        } else if (joined.size() < kMaxHeldRanges) {
            joined.push_back(r);
        }
    }
    std::string text =
        "QGHELD " + std::to_string(length) + " " + std::to_string(joined.size()) + "\r\n";
    for (const transfer::ByteRange& r : joined)
        text += std::to_string(r.from) + "-" + std::to_string(r.to - 1) + "\r\n";
    return text;
}

std::optional<HeldMap> ParseHeldMap(std::string_view body) {
    if (body.size() > kMaxHeldMapBytes) return std::nullopt;
    std::string_view line;
    if (!NextLine(body, line) || line.substr(0, 7) != "QGHELD ") return std::nullopt;
    line.remove_prefix(7);
    const size_t space = line.find(' ');
    HeldMap map;
    int64_t count = 0;
    if (space == std::string_view::npos || !ReadNumber(line.substr(0, space), map.length) ||
        !ReadNumber(line.substr(space + 1), count) || count > int64_t{kMaxHeldRanges}) {
        return std::nullopt;
    }
    for (int64_t i = 0; i < count; ++i) {
        if (!NextLine(body, line)) return std::nullopt;
        const size_t dash = line.find('-');
        int64_t first = 0, last = 0;
        if (dash == std::string_view::npos || !ReadNumber(line.substr(0, dash), first) ||
            !ReadNumber(line.substr(dash + 1), last) || last < first || last >= map.length) {
            return std::nullopt;
        }
        // Apart from the one before: a gap of at least one byte.
        if (!map.ranges.empty() && first <= map.ranges.back().to) return std::nullopt;
        map.ranges.push_back({first, last + 1});
    }
    if (!body.empty()) return std::nullopt;
    return map;
}

}  // namespace engine
