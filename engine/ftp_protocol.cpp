#include "engine/ftp_protocol.h"

#include <strings.h>

#include <charconv>
#include <vector>

namespace engine {
namespace {

constexpr int64_t kMaxSize = int64_t{1} << 62;

bool ParseDigits(std::string_view text, int64_t& value) {
    if (text.empty() || text.size() > 19) return false;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
    }
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size() && value <= kMaxSize;
}

std::vector<std::string_view> Words(std::string_view line) {
    std::vector<std::string_view> words;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
        const size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
        if (i > start) words.push_back(line.substr(start, i - start));
    }
    return words;
}

// The size of one entry line, when it is a regular file; -1 for anything else.
int64_t EntrySize(std::string_view line) {
    const std::vector<std::string_view> w = Words(line);
    int64_t size = -1;
    if (w.size() >= 9 && w[0].size() == 10 && w[0][0] == '-') {  // Unix "ls -l"
        return ParseDigits(w[4], size) ? size : -1;
    }
    if (w.size() >= 4 && w[0].size() >= 8 && w[0][2] == '-' && w[0][5] == '-') {  // DOS
        return w[2] != "<DIR>" && ParseDigits(w[2], size) ? size : -1;
    }
    return -1;
}

}  // namespace

int LeadingNumber(std::string_view line) {
    int value = 0;
    size_t i = 0;
    for (; i < line.size() && i < 9 && line[i] >= '0' && line[i] <= '9'; ++i) {
        value = value * 10 + (line[i] - '0');
    }
    return i == 0 ? -1 : value;
}

FtpReplyParser::Status FtpReplyParser::Consume(std::string_view& input) {
    if (refused_) return Status::Refused;
    while (!input.empty()) {
        const size_t end = input.find('\n');
        const std::string_view piece = input.substr(0, end);
        bytes_ += end == input.npos ? piece.size() : piece.size() + 1;
        if (line_.size() < kMaxLine) line_.append(piece.substr(0, kMaxLine - line_.size()));
        input.remove_prefix(end == input.npos ? input.size() : end + 1);
        if (bytes_ > kMaxBytes) {
            refused_ = true;
            return Status::Refused;
        }
        if (end == std::string_view::npos) return Status::NeedMore;

        if (!line_.empty() && line_.back() == '\r') line_.pop_back();
        const int number = LeadingNumber(line_);
        const bool continued =
            number < 100 || number > 599 || (line_.size() > 3 && line_[3] == '-');
        lastLine_ = std::move(line_);
        line_.clear();
        if (!continued) {
            code_ = number;
            lines_ = 0;
            bytes_ = 0;
            return Status::Complete;
        }
        if (++lines_ >= kMaxLines) {
            refused_ = true;
            return Status::Refused;
        }
    }
    return Status::NeedMore;
}

void FtpReplyParser::Reset() { *this = FtpReplyParser(); }

bool ParsePassiveReply(std::string_view line, std::string& host, uint16_t& port) {
    const size_t open = line.find('(');
    const size_t close = line.find(')', open == line.npos ? 0 : open);
    if (open == line.npos || close == line.npos) return false;
    std::string_view inside = line.substr(open + 1, close - open - 1);
    int numbers[6];
    for (int i = 0; i < 6; ++i) {
        const size_t comma = inside.find(',');
        const std::string_view part = inside.substr(0, comma);
        if ((comma == inside.npos) != (i == 5)) return false;
        int64_t value = 0;
        if (!ParseDigits(part, value) || value > 255) return false;
        numbers[i] = static_cast<int>(value);
        inside.remove_prefix(comma == inside.npos ? inside.size() : comma + 1);
    }
    host = std::to_string(numbers[0]) + "." + std::to_string(numbers[1]) + "." +
           std::to_string(numbers[2]) + "." + std::to_string(numbers[3]);
    port = static_cast<uint16_t>(numbers[4] * 256 + numbers[5]);
    return true;
}

bool ParseListingSize(std::string_view listing, int64_t& size) {
    int64_t found = -1;
    int entries = 0;
    while (!listing.empty()) {
        const size_t end = listing.find('\n');
        std::string_view line = listing.substr(0, end);
        listing.remove_prefix(end == listing.npos ? listing.size() : end + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (Words(line).empty()) continue;
        if (line.size() >= 6 && strncasecmp(line.data(), "total ", 6) == 0) continue;
        ++entries;
        found = EntrySize(line);
    }
    if (entries != 1 || found < 0) return false;
    size = found;
    return true;
}

bool ParseSizeReply(std::string_view line, int64_t& size) {
    size_t i = 0;
    while (i < line.size() && line[i] >= '0' && line[i] <= '9') ++i;
    if (i == 0 || i >= line.size() || line[i] != ' ') return false;
    std::string_view rest = line.substr(i + 1);
    while (!rest.empty() && (rest.back() == ' ' || rest.back() == '\r')) rest.remove_suffix(1);
    return ParseDigits(rest, size);
}

bool ParseFtpUrl(std::string_view url, FtpUrl& out) {
    for (unsigned char c : url) {
        if (c < 0x20 || c == 0x7F) return false;
    }
    if (url.size() < 6 || strncasecmp(url.data(), "ftp://", 6) != 0) return false;
    url.remove_prefix(6);
    FtpUrl parsed;
    const size_t slash = url.find('/');
    std::string_view authority = url.substr(0, slash);
    if (slash != url.npos) parsed.path = std::string(url.substr(slash));
    const size_t at = authority.rfind('@');
    if (at != authority.npos) {
        const std::string_view login = authority.substr(0, at);
        const size_t colon = login.find(':');
        parsed.user = std::string(login.substr(0, colon));
        if (colon != login.npos) parsed.password = std::string(login.substr(colon + 1));
        authority.remove_prefix(at + 1);
    }
    const size_t colon = authority.rfind(':');
    if (colon != authority.npos) {
        int64_t port = 0;
        if (!ParseDigits(authority.substr(colon + 1), port) || port < 1 || port > 65535) {
            return false;
        }
        parsed.port = static_cast<uint16_t>(port);
        authority = authority.substr(0, colon);
    }
    parsed.host = std::string(authority);
    if (parsed.host.empty() || parsed.host.size() > kMaxUrlPart ||
        parsed.user.size() > kMaxUrlPart || parsed.password.size() > kMaxUrlPart ||
        parsed.path.size() > kMaxUrlPart) {
        return false;
    }
    out = std::move(parsed);
    return true;
}

}  // namespace engine
