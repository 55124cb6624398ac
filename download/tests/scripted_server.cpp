#include "download/tests/scripted_server.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

namespace qg_test {

ScriptedServer::ScriptedServer() {
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
        execl("/usr/bin/python3", "python3", QG_SCRIPTED_SERVER, static_cast<char*>(nullptr));
        _exit(127);
    }
    close(out[1]);
    char line[32] = {};
    size_t used = 0;
    while (used + 1 < sizeof(line)) {
        const ssize_t n = read(out[0], line + used, 1);
        if (n <= 0 || line[used] == '\n') break;
        ++used;
    }
    close(out[0]);
    port_ = std::atoi(line);
    if (port_ <= 0) ADD_FAILURE() << "scripted server did not start";
}

ScriptedServer::~ScriptedServer() {
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }
}

std::string ScriptedServer::Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

std::string Pattern(size_t n) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 7 + 3) % 251);
    return s;
}

std::string ReadFile(const std::string& path, bool* exists) {
    std::ifstream in(path, std::ios::binary);
    if (exists) *exists = static_cast<bool>(in);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const std::string& path, const std::string& content) {
    std::ofstream(path, std::ios::binary) << content;
}

TempFolder::TempFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "qg-download-XXXXXX").string();
    char* made = mkdtemp(pattern.data());
    dir_ = made ? made : "/tmp";
}

TempFolder::~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
}

}  // namespace qg_test
