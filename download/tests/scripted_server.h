// Starts download/tests/scripted_server.py on a free port of 127.0.0.1 for one test
// suite and stops it again.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "testing/python_server.h"

namespace qg_test {

class ScriptedServer : public testing_support::PythonServer {
  public:
    ScriptedServer() : PythonServer(QG_SCRIPTED_SERVER, {}) {}
    int Port() const { return port(); }
};

// One server for all the tests of a process, started on first use.
inline ScriptedServer& Server() {
    static ScriptedServer server;
    return server;
}

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
