#include "testing/python_server.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

namespace testing_support {

PythonServer::PythonServer(const std::string& script, const std::vector<std::string>& args) {
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>("python3"));
    argv.push_back(const_cast<char*>(script.c_str()));
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);

    int out[2];
    if (pipe(out) != 0) {
        ADD_FAILURE() << "pipe";
        return;
    }
    pid_ = fork();
    if (pid_ == 0) {
        // The server must not outlive a test process that ends abnormally.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        dup2(out[1], STDOUT_FILENO);
        close(out[0]);
        close(out[1]);
        execv("/usr/bin/python3", argv.data());
        _exit(127);
    }
    close(out[1]);
    char line[32] = {};
    size_t used = 0;
    while (used + 1 < sizeof(line)) {
        if (read(out[0], line + used, 1) <= 0 || line[used] == '\n') break;
        ++used;
    }
    close(out[0]);
    port_ = std::atoi(line);
    if (port_ <= 0) ADD_FAILURE() << script << " did not start";
}

PythonServer::~PythonServer() {
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }
}

}  // namespace testing_support
