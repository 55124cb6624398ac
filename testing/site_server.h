// Test support: an update site (a folder) served over HTTP on 127.0.0.1 for the life of
// the object.
#pragma once

#include <sys/types.h>

#include <string>

namespace testing_support {

class SiteServer {
  public:
    explicit SiteServer(const std::string& folder);  // fails the test when it cannot start
    ~SiteServer();
    SiteServer(const SiteServer&) = delete;
    SiteServer& operator=(const SiteServer&) = delete;

    int port() const { return port_; }
    // "127.0.0.1:PORT", as a backup server is configured.
    std::string host() const { return "127.0.0.1:" + std::to_string(port_); }
    std::string Url(const std::string& path) const { return "http://" + host() + path; }

  private:
    pid_t pid_ = -1;
    int port_ = 0;
};

}  // namespace testing_support
