#include "platform/http_transfer.h"

#include <curl/curl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>
#include <string_view>

#include "platform/http_global.h"

namespace platform {
namespace {

struct EasyDeleter {
    void operator()(CURL* c) const { curl_easy_cleanup(c); }
};
struct ListDeleter {
    void operator()(curl_slist* l) const { curl_slist_free_all(l); }
};

struct Session {
    CURL* curl = nullptr;
    HttpTransferEvents* events = nullptr;
    HttpInterrupt* interrupt = nullptr;
    std::string host;
    bool resolving = false;  // a lookup was reported for the coming connection
    bool responded = false;  // OnResponse has been called
    bool aborted = false;    // a callback said stop
    bool stalled = false;    // nothing arrived for the no-data time-out
    std::chrono::steady_clock::duration noDataTimeout{};
    std::chrono::steady_clock::time_point lastArrival = std::chrono::steady_clock::now();
    long status = 0;        // of the response whose headers are arriving
    std::string location;   // its Location header, if any
    bool hasRange = false;  // it carried a Content-Range header
    int64_t rangeFirst = -1, rangeLast = -1, rangeTotal = -1;
};

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() &&
           strncasecmp(text.data(), prefix.data(), prefix.size()) == 0;
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == '\r' || s.back() == '\n' || s.back() == ' '))
        s.remove_suffix(1);
    return s;
}

// Reads a decimal number of at most 18 digits (so it cannot overflow) from the front of
// `text`; -1 when there is none.
int64_t TakeNumber(std::string_view& text) {
    int64_t value = 0;
    size_t digits = 0;
    while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9') {
        if (digits == 18) return -1;
        value = value * 10 + (text[digits] - '0');
        ++digits;
    }
    if (digits == 0) return -1;
    text.remove_prefix(digits);
    return value;
}

// "bytes FIRST-LAST/TOTAL" (TOTAL may be "*"); false for anything else.
bool ParseContentRange(std::string_view value, int64_t& first, int64_t& last, int64_t& total) {
    value = Trim(value);
    if (!StartsWithNoCase(value, "bytes ")) return false;
    value.remove_prefix(6);
    value = Trim(value);
    first = TakeNumber(value);
    if (first < 0 || value.empty() || value.front() != '-') return false;
    value.remove_prefix(1);
    last = TakeNumber(value);
    if (last < first || value.empty() || value.front() != '/') return false;
    value.remove_prefix(1);
    if (value == "*") {
        total = -1;
        return true;
    }
    total = TakeNumber(value);
    return total > last && value.empty();
}

int OnResolverStart(void*, void*, void* clientp) {
    auto* s = static_cast<Session*>(clientp);
    s->resolving = true;
    s->events->OnResolving(s->host);
    return 0;
}

curl_socket_t OnOpenSocket(void* clientp, curlsocktype, curl_sockaddr* address) {
    auto* s = static_cast<Session*>(clientp);
    if (!s->resolving) s->events->OnResolving(s->host);
    s->resolving = false;
    s->events->OnConnecting();
    const int fd = socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
    if (fd >= 0 && s->interrupt && !s->interrupt->Adopt(fd)) {
        close(fd);
        return CURL_SOCKET_BAD;
    }
    return fd;
}

int OnCloseSocket(void* clientp, curl_socket_t fd) {
    auto* s = static_cast<Session*>(clientp);
    if (s->interrupt) s->interrupt->Release(fd);
    return close(fd);
}

int OnPrerequest(void* clientp, char*, char*, int, int) {
    static_cast<Session*>(clientp)->events->OnConnected();
    return CURL_PREREQFUNC_OK;
}

// Every header line of every response passes here. The status is judged on the blank line
// that ends the final response's headers, before libcurl hands over a byte of its body.
size_t OnHeader(char* buffer, size_t size, size_t count, void* userdata) {
    auto* s = static_cast<Session*>(userdata);
    s->lastArrival = std::chrono::steady_clock::now();
    const size_t length = size * count;
    const std::string_view line(buffer, length);
    if (StartsWithNoCase(line, "HTTP/")) {
        const size_t space = line.find(' ');
        s->status =
            space == std::string_view::npos ? 0 : std::strtol(buffer + space + 1, nullptr, 10);
        s->location.clear();
        s->hasRange = false;
        return length;
    }
    if (StartsWithNoCase(line, "Content-Range:")) {
        s->hasRange = true;
        if (!ParseContentRange(line.substr(14), s->rangeFirst, s->rangeLast, s->rangeTotal))
            s->rangeFirst = s->rangeLast = s->rangeTotal = -1;
        return length;
    }
    if (StartsWithNoCase(line, "Location:")) {
        s->location = std::string(Trim(line.substr(9)));
        return length;
    }
    if (!Trim(line).empty()) return length;

    if (s->status >= 100 && s->status < 200) return length;  // interim response
    if (s->status >= 300 && s->status < 400 && !s->location.empty()) {
        // libcurl follows it (or stops at the redirect limit); its body is never written.
        s->events->OnRedirect(s->status, s->location);
        return length;
    }
    curl_off_t contentLength = -1;
    curl_easy_getinfo(s->curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &contentLength);
    s->responded = true;
    if (s->hasRange) s->events->OnContentRange(s->rangeFirst, s->rangeLast, s->rangeTotal);
    if (!s->events->OnResponse(s->status, contentLength)) {
        s->aborted = true;
        return 0;
    }
    return length;
}

size_t OnWrite(char* data, size_t size, size_t count, void* userdata) {
    auto* s = static_cast<Session*>(userdata);
    s->lastArrival = std::chrono::steady_clock::now();
    if (!s->events->OnBody(data, size * count)) {
        s->aborted = true;
        return CURL_WRITEFUNC_ERROR;
    }
    return size * count;
}

int OnProgress(void* clientp, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    auto* s = static_cast<Session*>(clientp);
    if (s->interrupt && s->interrupt->interrupted()) {
        s->aborted = true;
        return 1;
    }
    // Measured here rather than with libcurl's low-speed limit, which averages over a
    // window of several seconds and so reacts to a stall only seconds late.
    if (std::chrono::steady_clock::now() - s->lastArrival > s->noDataTimeout) {
        s->stalled = true;
        return 1;
    }
    if (!s->events->OnTick()) {
        s->aborted = true;
        return 1;
    }
    return 0;
}

HttpOutcome Classify(CURLcode code, const Session& s) {
    if (s.aborted || (s.interrupt && s.interrupt->interrupted())) return HttpOutcome::Aborted;
    if (s.stalled) return HttpOutcome::TimedOut;
    switch (code) {
        case CURLE_OK:
            return HttpOutcome::Complete;
        case CURLE_OPERATION_TIMEDOUT:
            return HttpOutcome::TimedOut;
        case CURLE_TOO_MANY_REDIRECTS:
            return HttpOutcome::TooManyRedirects;
        case CURLE_UNSUPPORTED_PROTOCOL:
            return HttpOutcome::Unsupported;
        case CURLE_GOT_NOTHING:
        case CURLE_WEIRD_SERVER_REPLY:
            return s.responded ? HttpOutcome::ReadFailed : HttpOutcome::NoStatus;
        default:
            return s.responded ? HttpOutcome::ReadFailed : HttpOutcome::SendFailed;
    }
}

// Sets every option; false when libcurl refuses one (then the transfer cannot be trusted
// to report its phases).
bool Configure(CURL* c, const HttpRequest& r, Session& s, curl_slist* headers,
               const std::string& range) {
    bool ok = true;
    auto set = [&](CURLoption option, auto value) {
        ok = ok && curl_easy_setopt(c, option, value) == CURLE_OK;
    };
    set(CURLOPT_URL, r.url.c_str());
    set(CURLOPT_PROTOCOLS_STR, "http,https");
    set(CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    set(CURLOPT_NOSIGNAL, 1L);
    set(CURLOPT_USERAGENT, r.userAgent.c_str());
    set(CURLOPT_HTTPHEADER, headers);
    set(CURLOPT_FOLLOWLOCATION, 1L);
    set(CURLOPT_MAXREDIRS, r.maxRedirects);
    set(CURLOPT_CONNECTTIMEOUT, static_cast<long>(r.connectTimeoutSeconds));
    if (r.minimumBytesPerSecond > 0) {
        set(CURLOPT_LOW_SPEED_LIMIT, static_cast<long>(r.minimumBytesPerSecond));
        set(CURLOPT_LOW_SPEED_TIME, static_cast<long>(r.minimumRateWindowSeconds));
    }
    if (!r.caFile.empty()) set(CURLOPT_CAINFO, r.caFile.c_str());
    if (!r.proxy.empty()) set(CURLOPT_PROXY, r.proxy.c_str());
    // A tunnelling proxy answers CONNECT with headers of its own; they must never pass
    // for the response of the file.
    set(CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
    // A larger receive buffer costs fewer calls per megabyte (the pieces stay at most
    // 16 KiB).
    set(CURLOPT_BUFFERSIZE, 100L * 1024);
    if (!range.empty()) set(CURLOPT_RANGE, range.c_str());
    if (r.post) {
        set(CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(r.postBody.size()));
        set(CURLOPT_POSTFIELDS, r.postBody.c_str());
    }
    if (r.http10) set(CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_0));
    set(CURLOPT_RESOLVER_START_FUNCTION, OnResolverStart);
    set(CURLOPT_RESOLVER_START_DATA, &s);
    set(CURLOPT_OPENSOCKETFUNCTION, OnOpenSocket);
    set(CURLOPT_OPENSOCKETDATA, &s);
    set(CURLOPT_CLOSESOCKETFUNCTION, OnCloseSocket);
    set(CURLOPT_CLOSESOCKETDATA, &s);
    set(CURLOPT_PREREQFUNCTION, OnPrerequest);
    set(CURLOPT_PREREQDATA, &s);
    set(CURLOPT_HEADERFUNCTION, OnHeader);
    set(CURLOPT_HEADERDATA, &s);
    set(CURLOPT_WRITEFUNCTION, OnWrite);
    set(CURLOPT_WRITEDATA, &s);
    set(CURLOPT_XFERINFOFUNCTION, OnProgress);
    set(CURLOPT_XFERINFODATA, &s);
    set(CURLOPT_NOPROGRESS, 0L);
    return ok;
}

}  // namespace

HttpResult HttpGet(const HttpRequest& request, HttpTransferEvents& events) {
    EnsureHttpGlobalInit();
    HttpResult result;
    std::unique_ptr<CURL, EasyDeleter> curl(curl_easy_init());
    if (!curl) return result;

    Session session;
    session.curl = curl.get();
    session.events = &events;
    session.interrupt = request.interrupt;
    session.noDataTimeout = std::chrono::seconds(request.noDataTimeoutSeconds);
    if (CURLU* u = curl_url()) {
        char* host = nullptr;
        if (curl_url_set(u, CURLUPART_URL, request.url.c_str(), 0) == CURLUE_OK &&
            curl_url_get(u, CURLUPART_HOST, &host, 0) == CURLUE_OK) {
            session.host = host;
            curl_free(host);
        }
        curl_url_cleanup(u);
    }

    curl_slist* list = curl_slist_append(nullptr, ("Accept: " + request.accept).c_str());
    if (request.bypassCaches && list) {
        list = curl_slist_append(list, "Cache-Control: no-cache");
        if (list) list = curl_slist_append(list, "Pragma: no-cache");
    }
    for (const std::string& line : request.extraHeaders) {
        if (list) list = curl_slist_append(list, line.c_str());
    }
    std::unique_ptr<curl_slist, ListDeleter> headers(list);
    std::string range;
    if (request.rangeStart > 0 || request.rangeEnd >= 0) {
        range = std::to_string(request.rangeStart) + "-";
        if (request.rangeEnd >= 0) range += std::to_string(request.rangeEnd);
    }
    if (!headers || !Configure(curl.get(), request, session, headers.get(), range)) {
        result.outcome = HttpOutcome::SetupFailed;
        return result;
    }

    const CURLcode code = curl_easy_perform(curl.get());
    result.outcome = Classify(code, session);
    result.errorCode = code == CURLE_OK ? 0 : static_cast<int>(code);
    result.lastStatus = session.status;
    return result;
}

}  // namespace platform
