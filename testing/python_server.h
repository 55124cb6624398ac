// Test support: a python3 server script run on a free port of 127.0.0.1 for the life of
// the object. The script prints its port on the first line of its output.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace testing_support {

class PythonServer {
  public:
    // Starts /usr/bin/python3 SCRIPT ARGS... and waits for its port; fails the test when
    // it does not start. The server ends with the object, or with the test process.
    PythonServer(const std::string& script, const std::vector<std::string>& args);
    ~PythonServer();
    PythonServer(const PythonServer&) = delete;
    PythonServer& operator=(const PythonServer&) = delete;

    int port() const { return port_; }
    // "127.0.0.1:PORT", as a backup server is configured.
    std::string host() const { return "127.0.0.1:" + std::to_string(port_); }
    std::string Url(const std::string& path) const { return "http://" + host() + path; }

  private:
    pid_t pid_ = -1;
    int port_ = 0;
};

// An update site: one folder served as it is (missing files answer 404).
class SiteServer : public PythonServer {
  public:
    explicit SiteServer(const std::string& folder) : PythonServer(QG_STATIC_SERVER, {folder}) {}
};

}  // namespace testing_support
