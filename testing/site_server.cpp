#include "testing/site_server.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

namespace testing_support {

SiteServer::SiteServer(const std::string& folder) {
    int out[2];
    if (pipe(out) != 0) {
        ADD_FAILURE() << "pipe";
        return;
    }
    pid_ = fork();
    if (pid_ == 0) {
        dup2(out[1], STDOUT_FILENO);
        close(out[0]);
        close(out[1]);
        execl("/usr/bin/python3", "python3", QG_STATIC_SERVER, folder.c_str(),
              static_cast<char*>(nullptr));
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
    if (port_ <= 0) ADD_FAILURE() << "the site server did not start";
}

SiteServer::~SiteServer() {
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }
}

}  // namespace testing_support
