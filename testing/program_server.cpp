#include "testing/program_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace testing_support {
namespace {

pid_t Spawn(const std::string& program, const std::vector<std::string>& args, int outFd,
            const std::string& errFile) {
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        // The server must not outlive a test process that ends abnormally.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (outFd >= 0) dup2(outFd, STDOUT_FILENO);
        if (!errFile.empty()) {
            const int err = open(errFile.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
            if (err >= 0) dup2(err, STDERR_FILENO);
        }
        execvp(program.c_str(), argv.data());
        _exit(127);
    }
    return pid;
}

int StopProcess(pid_t pid, int signal) {
    kill(pid, signal);
    for (int i = 0; i < 1000; ++i) {
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid) {
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    return -1;
}

int FreePort() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int port = 0;
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
        port = ntohs(address.sin_port);
    }
    close(fd);
    return port;
}

// True once a PING on 127.0.0.1:port is answered.
bool Pong(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    bool pong = false;
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        send(fd, "PING\r\n", 6, MSG_NOSIGNAL) == 6) {
        pollfd p{fd, POLLIN, 0};
        char reply[16] = {};
        pong = poll(&p, 1, 1000) == 1 && recv(fd, reply, sizeof reply - 1, 0) > 0 &&
               std::strncmp(reply, "+PONG", 5) == 0;
    }
    close(fd);
    return pong;
}

}  // namespace

pid_t SpawnProgram(const std::string& program, const std::vector<std::string>& args,
                   const std::string& errFile) {
    return Spawn(program, args, -1, errFile);
}

ProgramServer::ProgramServer(const std::string& program, const std::vector<std::string>& args,
                             const std::string& errFile) {
    int out[2];
    if (pipe(out) != 0) {
        ADD_FAILURE() << "pipe";
        return;
    }
    pid_ = Spawn(program, args, out[1], errFile);
    close(out[1]);
    char line[32] = {};
    size_t used = 0;
    pollfd p{out[0], POLLIN, 0};
    while (used + 1 < sizeof(line) && poll(&p, 1, 20000) == 1) {
        if (read(out[0], line + used, 1) <= 0 || line[used] == '\n') break;
        ++used;
    }
    close(out[0]);
    port_ = std::atoi(line);
    if (port_ <= 0) ADD_FAILURE() << program << " did not start";
}

ProgramServer::~ProgramServer() {
    if (pid_ > 0) Stop();
}

int ProgramServer::Stop() {
    if (pid_ <= 0) return -1;
    const int status = StopProcess(pid_, SIGTERM);
    pid_ = -1;
    return status;
}

RedisServer::RedisServer() {
    for (int attempt = 0; attempt < 5 && pid_ < 0; ++attempt) {
        port_ = FreePort();
        Launch();
    }
    if (pid_ < 0) ADD_FAILURE() << "redis-server did not start";
}

bool RedisServer::Launch() {
    const int quiet = open("/dev/null", O_WRONLY | O_CLOEXEC);
    const pid_t pid = Spawn("redis-server",
                            {"--port", std::to_string(port_), "--bind", "127.0.0.1", "--save", "",
                             "--appendonly", "no", "--dir", "/tmp", "--loglevel", "warning"},
                            quiet, "/dev/null");
    close(quiet);
    for (int i = 0; i < 500; ++i) {
        if (waitpid(pid, nullptr, WNOHANG) == pid) return false;  // the port was taken
        if (Pong(port_)) {
            pid_ = pid;
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    StopProcess(pid, SIGKILL);
    return false;
}

void RedisServer::Stop() {
    if (pid_ > 0) {
        kill(pid_, SIGCONT);
        StopProcess(pid_, SIGTERM);
    }
    pid_ = -1;
}

void RedisServer::Pause() {
    if (pid_ > 0) kill(pid_, SIGSTOP);
}

void RedisServer::Resume() {
    if (pid_ > 0) kill(pid_, SIGCONT);
}

bool RedisServer::Restart() {
    Stop();
    for (int i = 0; i < 50; ++i) {
        if (Launch()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
}

}  // namespace testing_support
