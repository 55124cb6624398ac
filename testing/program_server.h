// Test support: servers run as processes for the life of an object. ProgramServer runs a
// program of ours that prints its port on the first line of its output; RedisServer a
// real redis-server on a free port of 127.0.0.1, without persistence.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace testing_support {

// Starts PROGRAM ARGS... with standard error appended to `errFile` (none: the test's); the
// child is killed when the test process ends. Gives its pid, or -1 when fork failed.
pid_t SpawnProgram(const std::string& program, const std::vector<std::string>& args,
                   const std::string& errFile);

class ProgramServer {
  public:
    // Starts PROGRAM ARGS... with standard error appended to `errFile` (none: the test's)
    // and waits for the port; port() is 0 when it did not start (the test fails then).
    ProgramServer(const std::string& program, const std::vector<std::string>& args,
                  const std::string& errFile = "");
    ~ProgramServer();
    ProgramServer(const ProgramServer&) = delete;
    ProgramServer& operator=(const ProgramServer&) = delete;

    int port() const { return port_; }
    pid_t pid() const { return pid_; }
    // Sends SIGTERM and gives the exit status (128 + signal when killed by one; -1 when
    // it did not end within 10 s, after which it is killed).
    int Stop();

  private:
    pid_t pid_ = -1;
    int port_ = 0;
};

class RedisServer {
  public:
    RedisServer();  // fails the test when redis-server does not start
    ~RedisServer() { Stop(); }
    RedisServer(const RedisServer&) = delete;
    RedisServer& operator=(const RedisServer&) = delete;

    int port() const { return port_; }
    std::string url() const { return "redis://127.0.0.1:" + std::to_string(port_); }
    void Stop();
    // Stops it answering (SIGSTOP: connections are still accepted) and lets it go on.
    void Pause();
    void Resume();
    // Starts it again on the same port (after Stop), empty.
    bool Restart();

  private:
    bool Launch();
    pid_t pid_ = -1;
    int port_ = 0;
};

}  // namespace testing_support
