// One HTTP GET (or a small POST) into the caller's hands, piece by piece: the network side of the
// HTTP downloader. The transfer runs synchronously on the calling thread and reports its phases
// through `HttpTransferEvents`.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/socket_interrupt.h"

namespace platform {

// Called on the thread that runs `HttpGet`, in this order per connection: resolving,
// connecting, connected; then `OnRedirect` for each redirect that is followed, and
// `OnResponse` once for the final response before any body byte. A false result from
// `OnResponse`, `OnBody` or `OnTick` ends the transfer with HttpOutcome::Aborted.
class HttpTransferEvents {
  public:
    virtual ~HttpTransferEvents() = default;
    // Also reported for a literal address or a cached name, so that every connection
    // goes through the same phases.
    virtual void OnResolving(const std::string& host) = 0;
    virtual void OnConnecting() = 0;
    virtual void OnConnected() = 0;
    virtual void OnRedirect(long status, const std::string& location) = 0;
    // contentLength is -1 when the response does not state it.
    virtual bool OnResponse(long status, int64_t contentLength) = 0;
    // Called just before `OnResponse` when the final response names the range it carries
    // ("Content-Range: bytes FIRST-LAST/TOTAL"; TOTAL is -1 when given as "*"). A
    // malformed header is reported as first = last = total = -1, so that a caller that
    // asked for a range can tell it was not given one it can trust.
    virtual void OnContentRange(int64_t first, int64_t last, int64_t total) {
        (void)first;
        (void)last;
        (void)total;
    }
    virtual bool OnBody(const char* data, size_t size) = 0;
    // Called at least about once a second, also while nothing arrives, so that a stop
    // request is noticed without data.
    virtual bool OnTick() = 0;
};

// Ends a running `HttpGet` from another thread at once (as Aborted); serves one transfer at
// a time (socket_interrupt.h).
using HttpInterrupt = SocketInterrupt;

struct HttpRequest {
    std::string url;  // canonical http or https URL
    std::string userAgent;
    std::string accept = "*/*";
    bool bypassCaches = true;  // ask every cache on the way for a fresh copy
    int64_t rangeStart = 0;    // > 0 asks for the bytes from there on
    int64_t rangeEnd = -1;     // >= 0 asks for the bytes up to and including this one
    long maxRedirects = 10;
    uint32_t connectTimeoutSeconds = 30;
    uint32_t noDataTimeoutSeconds = 60;  // end when nothing arrives for this long
    // End when fewer than `minimumBytesPerSecond` arrive on average for
    // `minimumRateWindowSeconds` in a row (0 bytes: no floor). A server that sends a byte
    // now and then defeats the no-data time-out; this catches it.
    uint32_t minimumBytesPerSecond = 0;
    uint32_t minimumRateWindowSeconds = 60;
    std::string caFile;  // certificate authorities to trust; empty: the system's store
    std::string proxy;   // proxy URL; empty: the environment's (https_proxy, ...)
    // A POST of `postBody` instead of a GET (the engine's lookup request).
    bool post = false;
    std::string postBody;
    std::vector<std::string> extraHeaders;  // whole header lines: "Name: value"
    bool http10 = false;                    // speak HTTP/1.0 instead of 1.1
    HttpInterrupt* interrupt = nullptr;     // lets another thread end the transfer
};

enum class HttpOutcome {
    Complete,          // the body ended where the server said it would
    Aborted,           // a callback asked to stop
    InitFailed,        // no session could be created
    SetupFailed,       // the callbacks could not be installed
    Unsupported,       // not an http or https URL
    SendFailed,        // name lookup, connection, TLS or sending the request failed
    NoStatus,          // no readable response came back
    TooManyRedirects,  // the redirect limit was reached
    TimedOut,          // connecting took too long or nothing arrived for too long
    ReadFailed,        // the body broke off (also: shorter than its Content-Length)
};

struct HttpResult {
    HttpOutcome outcome = HttpOutcome::InitFailed;
    int errorCode = 0;    // the library's error number, 0 when there is none
    long lastStatus = 0;  // status of the last response seen, 0 when none
};

// Runs the request to its end. Thread-safe: transfers on different threads are
// independent. Redirects are followed within http and https only.
HttpResult HttpGet(const HttpRequest& request, HttpTransferEvents& events);

}  // namespace platform
