// The lookup service's HTTP side, on libmicrohttpd: a pool of threads, each polling its
// connections; a cap on connections, on connections per address, on the time a
// connection may stay silent or dribble, on header memory and on request bodies. Each
// request goes to the handler once its body is in (or once it is known to be too large),
// and each one leaves a line in the request log.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "lookup/lookup_service.h"

struct MHD_Daemon;

namespace lookup {

struct HttpServerSettings {
    std::string address = "127.0.0.1";  // a literal IPv4 or IPv6 address
    uint16_t port = 0;                  // 0: any free one
    unsigned threads = 4;
    unsigned connectionLimit = 1024;
    unsigned perAddressLimit = 64;
    unsigned timeoutSeconds = 10;  // a connection idle (or dribbling) this long is closed
    size_t maxBody = kMaxBodyBytes;
};

class HttpServer {
  public:
    using Handler = std::function<HttpReply(const HttpExchange&)>;
    using Log = std::function<void(const std::string& line)>;

    HttpServer() = default;
    ~HttpServer() { Stop(); }
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // Listens and serves on threads of its own; false with a reason when it cannot.
    bool Start(const HttpServerSettings& settings, Handler handler, Log log, std::string& error);
    uint16_t port() const { return port_; }
    // Stops listening, closes every connection and waits for the threads.
    void Stop();

    // What a request carries into the handler and the log (public for the callbacks).
    struct Request;
    void Finish(Request& request, const HttpReply& reply, const char* method, const char* path);
    const HttpServerSettings& settings() const { return settings_; }
    const Handler& handler() const { return handler_; }

  private:
    MHD_Daemon* daemon_ = nullptr;
    uint16_t port_ = 0;
    HttpServerSettings settings_;
    Handler handler_;
    Log log_;
};

}  // namespace lookup
