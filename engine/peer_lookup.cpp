#include "engine/peer_lookup.h"

#include <strings.h>

#include <cctype>
#include <charconv>
#include <chrono>

#include "engine/logger.h"
#include "platform/http_transfer.h"

namespace engine {
namespace {

// The value after "KEY=" when `line` begins with it (key compared without regard to case).
bool ValueOf(std::string_view line, std::string_view key, std::string_view& value) {
    if (line.size() <= key.size() || strncasecmp(line.data(), key.data(), key.size()) != 0 ||
        line[key.size()] != '=') {
        return false;
    }
    value = line.substr(key.size() + 1);
    return true;
}

// A size as the server writes it: optional blanks, digits, anything after ignored. A
// negative or overflowing number is not a size.
bool ParseLength(std::string_view text, int64_t& size) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    int64_t value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end == text.data() || value < 0) return false;
    size = value;
    return true;
}

std::vector<std::string_view> SplitCrLf(std::string_view text) {
    std::vector<std::string_view> lines;
    for (;;) {
        const size_t end = text.find("\r\n");
        lines.push_back(text.substr(0, end));
        if (end == text.npos) return lines;
        text.remove_prefix(end + 2);
    }
}

class AnswerCollector final : public platform::HttpTransferEvents {
  public:
    explicit AnswerCollector(uint32_t deadlineSeconds)
        : deadline_(deadlineSeconds > 0
                        ? std::chrono::steady_clock::now() + std::chrono::seconds(deadlineSeconds)
                        : std::chrono::steady_clock::time_point::max()) {}
    void OnResolving(const std::string&) override {}
    void OnConnecting() override {}
    void OnConnected() override {}
    void OnRedirect(long, const std::string&) override {}
    bool OnResponse(long status, int64_t length) override {
        status_ = status;
        return status == 200 && length <= static_cast<int64_t>(kMaxAnswerBytes);
    }
    bool OnBody(const char* data, size_t size) override {
        if (size > kMaxAnswerBytes - body_.size() || Late()) return false;
        body_.append(data, size);
        return true;
    }
    bool OnTick() override { return !Late(); }

    long status() const { return status_; }
    const std::string& body() const { return body_; }

  private:
    bool Late() const { return std::chrono::steady_clock::now() >= deadline_; }

    std::chrono::steady_clock::time_point deadline_;
    long status_ = 0;
    std::string body_;
};

}  // namespace

std::string FormEscape(std::string_view value) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : value) {
        if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    return out;
}

std::string BuildLookupBody(const LookupRequest& r) {
    const std::string userId = r.userId.substr(0, r.userId.find_first_of("\r\n"));
    if ((r.url.empty() && r.md5.empty()) || userId.empty() || r.pc < 0 || r.mc < 0) return {};
    std::string body;
    if (!r.url.empty()) {
        body = "url=" + FormEscape(r.url);
        if (!r.referer.empty()) body += "&refer=" + FormEscape(r.referer);
    } else {
        body = "md5=" + FormEscape(r.md5);
    }
    body += "&uid=" + FormEscape(userId) + "&pc=" + std::to_string(r.pc) +
            "&mc=" + std::to_string(r.mc);
    if (r.ownPort != 0) body += "&port=" + std::to_string(r.ownPort);
    return body;
}

int ParseLookupAnswer(std::string_view answer, int64_t& size, std::string& md5,
                      std::vector<std::string>& sources) {
    if (answer.substr(0, 6) == "FAILED") return kLookupServerFailed;
    const size_t split = answer.find("\r\n\r\n");
    if (split == answer.npos) return kLookupNoHeaderEnd;
    const std::vector<std::string_view> header = SplitCrLf(answer.substr(0, split));
    std::string_view value;
    if (ValueOf(header[0], "Length", value)) ParseLength(value, size);
    if (header.size() > 2 && ValueOf(header[2], "MD5", value) && value.size() == 32 &&
        value.find_first_not_of("0123456789abcdefABCDEF") == value.npos) {
        md5.clear();
        for (char c : value) md5 += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    for (std::string_view line : SplitCrLf(answer.substr(split + 4))) {
        if (!line.empty()) sources.emplace_back(line);
    }
    return kLookupOk;
}

bool PostLookupForm(const LookupPost& post, std::string& answer) {
    platform::HttpRequest request;
    request.url = "http://" + post.host + ":" + std::to_string(post.port) + "/" + post.path;
    request.userAgent = "Browser1.0";
    request.bypassCaches = false;
    request.maxRedirects = 0;
    request.connectTimeoutSeconds = post.connectTimeoutSeconds;
    request.noDataTimeoutSeconds = post.noDataTimeoutSeconds;
    request.post = true;
    request.postBody = post.body;
    request.extraHeaders = {"Content-Type: application/x-www-form-urlencoded"};
    request.http10 = true;
    request.interrupt = post.interrupt;
    AnswerCollector collector(post.deadlineSeconds);
    const platform::HttpResult result = platform::HttpGet(request, collector);
    if (result.outcome != platform::HttpOutcome::Complete || collector.status() != 200)
        return false;
    answer = collector.body();
    return true;
}

int QueryFileSources(const LookupRequest& r, int64_t& size, std::string& md5,
                     std::vector<std::string>& sources) {
    const std::string body = BuildLookupBody(r);
    if (body.empty()) return kLookupNothingToAsk;
    Logger::Instance().Log(kLogLevelInfo, "getfipl postdata: \r\n%s\r\n", body.c_str());

    LookupPost post;
    post.host = r.host;
    post.port = r.port;
    post.path = "getfipl.php";
    post.body = body;
    post.connectTimeoutSeconds = r.connectTimeoutSeconds;
    post.noDataTimeoutSeconds = r.noDataTimeoutSeconds;
    post.deadlineSeconds = r.deadlineSeconds;
    post.interrupt = r.interrupt;
    std::string answer;
    if (!PostLookupForm(post, answer)) return kLookupTransferFailed;
    Logger::Instance().Log(kLogLevelInfo, "P2P Server says: \r\n%s\r\n", answer.c_str());

    // Read into copies: the caller's outputs change only for a whole answer.
    int64_t newSize = size;
    std::string newMd5 = md5;
    std::vector<std::string> newSources;
    const int code = ParseLookupAnswer(answer, newSize, newMd5, newSources);
    if (code != kLookupOk) return code;
    size = newSize;
    md5 = newMd5;
    sources.insert(sources.end(), newSources.begin(), newSources.end());
    return kLookupOk;
}

}  // namespace engine
