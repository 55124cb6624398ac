// The lookup service's answers, apart from HTTP: each request as the HTTP server hands it
// over, and the reply it sends back. Routes:
//   POST /getfipl.php   where else a file can be fetched (protocol.h for the forms)
//   POST /announce      an engine serves a file; "OK ttl=SECONDS\r\n"
//   POST /withdraw      it stops; "OK\r\n"
//   GET  /status        counters as JSON
// A refused request gets its status and a one-line reason: 400 malformed, 404, 405, 413
// body too large, 429 too many announcements from one address, 503 store unavailable.
// Thread-safe: the HTTP server calls Handle from its threads.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "lookup/announcement_store.h"
#include "lookup/mirror_list.h"
#include "lookup/protocol.h"

namespace lookup {

struct ServiceSettings {
    std::chrono::seconds ttl{300};
    size_t defaultPeers = 20;  // pc 0
    size_t maxPeers = 50;      // a larger pc is cut to this
    size_t defaultMirrors = 8;
    size_t maxMirrors = 16;
    // Connections from these addresses (canonical) name the asker in X-Forwarded-For.
    std::vector<std::string> trustedProxies;
};

struct HttpExchange {
    std::string method;
    std::string path;
    std::string connectionAddress;  // canonical
    bool hasForwardedFor = false;
    std::string forwardedFor;  // the X-Forwarded-For header
    std::string body;
    bool bodyTooLarge = false;  // then `body` is not read
};

struct HttpReply {
    int status = 200;
    std::string contentType = "text/plain";
    std::string body;
    std::string allow;  // the method to use, with 405
    std::string note;   // for the request log: the reason of a refusal, a forwarded address
};

class LookupService {
  public:
    LookupService(AnnouncementStore& store, MirrorList mirrors, ServiceSettings settings)
        : store_(store),
          mirrors_(std::make_shared<const MirrorList>(std::move(mirrors))),
          settings_(std::move(settings)) {}

    HttpReply Handle(const HttpExchange& exchange);
    // Lookups already under way finish with the list they started with.
    void ReplaceMirrors(MirrorList mirrors);

  private:
    HttpReply Lookup(const std::string& body, const std::string& asker);
    HttpReply Announce(const std::string& body, const std::string& asker);
    HttpReply Withdraw(const std::string& body, const std::string& asker);
    HttpReply Status();
    // Finds the announcements of the file a query names; false when the store failed.
    bool FindHolders(const FileQuery& query, const MirroredFile* listed, size_t most,
                     std::vector<Announcement>& found);

    std::shared_ptr<const MirrorList> Mirrors();

    AnnouncementStore& store_;
    std::mutex mirrorsLock_;
    std::shared_ptr<const MirrorList> mirrors_;  // guarded by mirrorsLock_
    const ServiceSettings settings_;
    std::atomic<uint64_t> requests_{0}, lookups_{0}, announcements_{0}, withdrawals_{0},
        refused_{0};
};

}  // namespace lookup
