#include "engine/block_request.h"

#include <charconv>

#include "platform/ascii_text.h"

namespace engine {
namespace {

bool IsDigits(std::string_view text) {
    if (text.empty() || text.size() > 18) return false;  // 18 digits fit in an int64_t
    for (char c : text)
        if (c < '0' || c > '9') return false;
    return true;
}

int64_t ToNumber(std::string_view digits) {
    int64_t value = 0;
    std::from_chars(digits.data(), digits.data() + digits.size(), value);
    return value;
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

bool ParseRange(std::string_view value, BlockRequest& out) {
    value = Trim(value);
    if (value.substr(0, 6) != "bytes=") return false;
    value.remove_prefix(6);
    const size_t dash = value.find('-');
    if (dash == std::string_view::npos) return false;  // a list (",") fails here or below
    const std::string_view from = value.substr(0, dash), to = value.substr(dash + 1);
    out.hasRange = true;
    if (from.empty()) {
        if (!IsDigits(to)) return false;
        out.suffix = ToNumber(to);
        return true;
    }
    if (!IsDigits(from)) return false;
    out.first = ToNumber(from);
    if (to.empty()) return true;
    if (!IsDigits(to)) return false;
    out.last = ToNumber(to);
    return *out.last >= out.first;
}

}  // namespace

std::optional<BlockRequest> ParseBlockRequest(std::string_view head) {
    if (head.size() > kMaxRequestHead) return std::nullopt;
    const size_t end = head.find("\r\n\r\n");
    if (end == std::string_view::npos) return std::nullopt;
    head = head.substr(0, end + 2);

    BlockRequest request;
    size_t lineEnd = head.find("\r\n");
    const std::string_view requestLine = head.substr(0, lineEnd);
    const size_t space1 = requestLine.find(' ');
    const size_t space2 = requestLine.rfind(' ');
    if (space1 == std::string_view::npos || space2 == space1) return std::nullopt;
    const std::string_view method = requestLine.substr(0, space1);
    const std::string_view target = requestLine.substr(space1 + 1, space2 - space1 - 1);
    const std::string_view version = requestLine.substr(space2 + 1);
    if (method == "HEAD") {
        request.headOnly = true;
    } else if (method != "GET") {
        return std::nullopt;
    }
    if (version != "HTTP/1.1" && version != "HTTP/1.0") return std::nullopt;
    std::string_view path = target;
    constexpr std::string_view kHeldQuery = "?held";
    if (path.size() > kHeldQuery.size() &&
        path.substr(path.size() - kHeldQuery.size()) == kHeldQuery) {
        request.heldMap = true;
        path.remove_suffix(kHeldQuery.size());
    }
    if (path.size() < 2 || path.front() != '/') return std::nullopt;
    for (char c : path.substr(1)) {
        const bool hex = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
        if (!hex) return std::nullopt;  // keys are lower-case hex digests
    }
    request.key = std::string(path.substr(1));

    bool sawRange = false;
    size_t at = lineEnd + 2;
    while (at < head.size()) {
        lineEnd = head.find("\r\n", at);
        const std::string_view line = head.substr(at, lineEnd - at);
        at = lineEnd + 2;
        const size_t colon = line.find(':');
        if (colon == std::string_view::npos || colon == 0) return std::nullopt;
        const std::string_view name = line.substr(0, colon);
        if (name.find_first_of(" \t") != std::string_view::npos) return std::nullopt;
        if (platform::EqualsIgnoringAsciiCase(name, "range")) {
            if (sawRange || !ParseRange(line.substr(colon + 1), request)) return std::nullopt;
            sawRange = true;
        }
    }
    return request;
}

BlockAnswer PlanBlockAnswer(const BlockRequest& request, int64_t length) {
    if (!request.hasRange) return {200, 0, length};
    int64_t first = request.first;
    int64_t last = length - 1;
    if (request.suffix) {
        if (*request.suffix == 0 || length == 0) return {416, 0, 0};
        first = *request.suffix >= length ? 0 : length - *request.suffix;
    } else {
        if (first >= length) return {416, 0, 0};
        if (request.last && *request.last < last) last = *request.last;
    }
    return {206, first, last - first + 1};
}

}  // namespace engine
