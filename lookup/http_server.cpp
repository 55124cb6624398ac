#include "lookup/http_server.h"

#include <microhttpd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "platform/ip_address.h"
#include "platform/system_time.h"

namespace lookup {

struct HttpServer::Request {
    std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
    std::string address;
    std::string body;
    uint64_t seen = 0;  // body bytes received
    bool tooLarge = false;
    bool answered = false;
};

namespace {

// Header memory per connection: a request head larger than this is refused by the library.
constexpr size_t kConnectionMemory = 32 * 1024;
constexpr size_t kMaxLoggedPath = 200;
// A body that grows past this is not answered: its connection is closed.
constexpr uint64_t kMaxDroppedBody = 64 * 1024;

// Bytes from the network as they may appear in a log line.
std::string Printable(const char* text, size_t most) {
    std::string out;
    for (size_t i = 0; text && text[i] && i < most; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        out += c < 0x20 || c == 0x7F || c == '"' ? '?' : static_cast<char>(c);
    }
    return out;
}

std::string Header(MHD_Connection* connection, const char* name, bool& present) {
    const char* value = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, name);
    present = value != nullptr;
    return value ? value : "";
}

bool Send(MHD_Connection* connection, const HttpReply& reply) {
    MHD_Response* response = MHD_create_response_from_buffer(
        reply.body.size(), const_cast<char*>(reply.body.data()), MHD_RESPMEM_MUST_COPY);
    if (!response) return false;
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, reply.contentType.c_str());
    if (!reply.allow.empty()) {
        MHD_add_response_header(response, MHD_HTTP_HEADER_ALLOW, reply.allow.c_str());
    }
    const MHD_Result queued =
        MHD_queue_response(connection, static_cast<unsigned>(reply.status), response);
    MHD_destroy_response(response);
    return queued == MHD_YES;
}

MHD_Result OnRequest(void* cls, MHD_Connection* connection, const char* url, const char* method,
                     const char*, const char* uploadData, size_t* uploadSize, void** state) {
    HttpServer& server = *static_cast<HttpServer*>(cls);
    auto* request = static_cast<HttpServer::Request*>(*state);
    if (!request) {
        request = new HttpServer::Request;
        *state = request;
        const MHD_ConnectionInfo* info =
            MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
        request->address = info ? platform::SocketAddressText(info->client_addr) : "";
        bool present = false;
        const std::string length = Header(connection, MHD_HTTP_HEADER_CONTENT_LENGTH, present);
        if (present) {
            char* end = nullptr;
            const unsigned long long declared = std::strtoull(length.c_str(), &end, 10);
            request->tooLarge =
                end == length.c_str() || *end || declared > server.settings().maxBody;
        }
        // A body declared too large is refused before it is read; the connection then closes.
        if (!request->tooLarge) return MHD_YES;
    } else if (request->answered) {
        *uploadSize = 0;  // the rest of a refused body is dropped
        return MHD_YES;
    } else if (*uploadSize > 0) {
        // The library answers only once the upload has ended: the rest of a body found too
        // large is read and dropped, up to a bound, beyond which the connection is closed.
        request->seen += *uploadSize;
        if (!request->tooLarge && *uploadSize <= server.settings().maxBody - request->body.size()) {
            request->body.append(uploadData, *uploadSize);
        } else {
            request->tooLarge = true;
            request->body.clear();
        }
        *uploadSize = 0;
        if (request->seen <= kMaxDroppedBody) return MHD_YES;
        HttpReply cut;
        cut.status = 413;
        cut.note = "body past 64 KiB, connection closed";
        server.Finish(*request, cut, method, url);
        return MHD_NO;
    }
    HttpExchange exchange;
    exchange.method = method;
    exchange.path = url;
    exchange.connectionAddress = request->address;
    exchange.forwardedFor = Header(connection, "X-Forwarded-For", exchange.hasForwardedFor);
    exchange.body = std::move(request->body);
    exchange.bodyTooLarge = request->tooLarge;
    const HttpReply reply = server.handler()(exchange);
    request->answered = true;
    server.Finish(*request, reply, method, url);
    return Send(connection, reply) ? MHD_YES : MHD_NO;
}

void OnCompleted(void*, MHD_Connection*, void** state, MHD_RequestTerminationCode) {
    delete static_cast<HttpServer::Request*>(*state);
    *state = nullptr;
}

void OnLibraryMessage(void* cls, const char* format, va_list arguments) {
    char text[512];
    std::vsnprintf(text, sizeof text, format, arguments);
    std::string line = text;
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    const auto& log = *static_cast<HttpServer::Log*>(cls);
    if (log) log("httpd: " + line);
}

}  // namespace

void HttpServer::Finish(Request& request, const HttpReply& reply, const char* method,
                        const char* path) {
    if (!log_) return;
    const platform::SystemTime t = platform::GetSystemTimeNow();
    const double ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - request.start)
            .count();
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, "%04u-%02u-%02uT%02u:%02u:%02u.%03uZ", t.year, t.month,
                  t.day, t.hour, t.minute, t.second, t.milliseconds);
    char timing[32];
    std::snprintf(timing, sizeof timing, "%.1fms", ms);
    std::string line = std::string(stamp) + " " + request.address + " \"" + Printable(method, 16) +
                       " " + Printable(path, kMaxLoggedPath) + "\" " +
                       std::to_string(reply.status) + " " + std::to_string(reply.body.size()) +
                       " " + timing;
    if (!reply.note.empty()) line += " " + Printable(reply.note.c_str(), 200);
    log_(line);
}

bool HttpServer::Start(const HttpServerSettings& settings, Handler handler, Log log,
                       std::string& error) {
    Stop();
    const std::optional<platform::BindAddress> where =
        platform::MakeBindAddress(settings.address, settings.port);
    if (!where) {
        error = "not a literal address: " + settings.address;
        return false;
    }
    settings_ = settings;
    handler_ = std::move(handler);
    log_ = std::move(log);
    unsigned flags = MHD_USE_AUTO | MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_ERROR_LOG;
    if (where->ipv6) flags |= MHD_USE_IPv6;
    daemon_ = MHD_start_daemon(
        flags, settings.port, nullptr, nullptr, &OnRequest, this, MHD_OPTION_EXTERNAL_LOGGER,
        &OnLibraryMessage, &log_, MHD_OPTION_SOCK_ADDR, static_cast<const sockaddr*>(where->data()),
        MHD_OPTION_THREAD_POOL_SIZE, settings.threads, MHD_OPTION_CONNECTION_LIMIT,
        settings.connectionLimit, MHD_OPTION_PER_IP_CONNECTION_LIMIT, settings.perAddressLimit,
        MHD_OPTION_CONNECTION_TIMEOUT, settings.timeoutSeconds, MHD_OPTION_CONNECTION_MEMORY_LIMIT,
        kConnectionMemory, MHD_OPTION_NOTIFY_COMPLETED, &OnCompleted, this, MHD_OPTION_END);
    if (!daemon_) {
        error = "cannot listen on " + platform::UrlHost(settings.address) + ":" +
                std::to_string(settings.port);
        return false;
    }
    const MHD_DaemonInfo* info = MHD_get_daemon_info(daemon_, MHD_DAEMON_INFO_BIND_PORT);
    port_ = info ? info->port : settings.port;
    return true;
}

void HttpServer::Stop() {
    if (daemon_) MHD_stop_daemon(daemon_);
    daemon_ = nullptr;
    port_ = 0;
}

}  // namespace lookup
