// Starts download/tests/scripted_server.py on a free port of 127.0.0.1 for one test
// suite and stops it again.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace qg_test {

class ScriptedServer {
  public:
    ScriptedServer();   // starts the server and waits for its port; fails the test if not
    ~ScriptedServer();  // stops it
    ScriptedServer(const ScriptedServer&) = delete;
    ScriptedServer& operator=(const ScriptedServer&) = delete;

    int Port() const { return port_; }
    std::string Url(const std::string& path) const;

  private:
    pid_t pid_ = -1;
    int port_ = 0;
};

// The bytes /ok/N and its relatives send.
std::string Pattern(size_t n);

// Whole content of a native file; `exists` tells whether it could be opened.
std::string ReadFile(const std::string& path, bool* exists = nullptr);
void WriteFile(const std::string& path, const std::string& content);

// A fresh folder under the temporary directory, removed with its files.
class TempFolder {
  public:
    TempFolder();
    ~TempFolder();
    std::string Path(const std::string& name) const { return dir_ + "/" + name; }

  private:
    std::string dir_;
};

}  // namespace qg_test
