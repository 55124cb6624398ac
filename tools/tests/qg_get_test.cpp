// qg-get as a process: killed at random moments and run again, the file comes out whole;
// its exit status says whether it did.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

#include "testing/python_server.h"
#include "testing/temp_dir.h"

namespace {

using testing_support::PythonServer;
using testing_support::TempDir;

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string Pattern(size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string data(size, '\0');
    for (char& c : data) c = static_cast<char>(random());
    return data;
}

std::string Md5Hex(const std::string& data) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(data.data(), data.size(), digest, &length, EVP_md5(), nullptr);
    std::string hex;
    for (unsigned int i = 0; i < length; ++i) {
        hex += "0123456789ABCDEF"[digest[i] >> 4];
        hex += "0123456789ABCDEF"[digest[i] & 15];
    }
    return hex;
}

pid_t Spawn(const std::vector<std::string>& args, const std::string& errFile) {
    const pid_t child = fork();
    if (child == 0) {
        std::freopen(errFile.c_str(), "a", stderr);
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(QG_GET_BINARY));
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(QG_GET_BINARY, argv.data());
        _exit(127);
    }
    return child;
}

int ExitCode(pid_t child) {
    int status = 0;
    if (waitpid(child, &status, 0) != child) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

class QgGetTest : public ::testing::Test {
  protected:
    std::string Site(const std::string& name, const std::string& data) {
        std::filesystem::create_directories(dir_.path() / "site");
        std::ofstream(dir_ / ("site/" + name), std::ios::binary) << data;
        return dir_ / "site";
    }
    TempDir dir_{"qg_get"};
};

TEST_F(QgGetTest, KilledRunsResumeToTheRightFile) {
    const std::string data = Pattern(3 << 20, 11);
    PythonServer server(QG_RANGE_SERVER, {Site("f.bin", data), "1000000"});
    const std::string out = dir_ / "out.bin";
    const std::string err = dir_ / "stderr.log";
    std::mt19937 random(std::random_device{}());
    for (int kill = 0; kill < 3; ++kill) {
        const pid_t child = Spawn({server.Url("/f.bin"), "-o", out}, err);
        // A random moment of the run: while it starts, mid-way, or near the end.
        std::this_thread::sleep_for(std::chrono::milliseconds(300 + random() % 1200));
        ::kill(child, SIGKILL);
        ExitCode(child);
        if (std::filesystem::exists(out)) break;  // finished before the kill
    }
    if (!std::filesystem::exists(out)) {
        EXPECT_EQ(ExitCode(Spawn({server.Url("/f.bin"), "-o", out}, err)), 0) << ReadFile(err);
    }
    EXPECT_TRUE(ReadFile(out) == data);
    // Some later run asked for the rest only, not the whole file again.
    EXPECT_NE(ReadFile(dir_ / "requests.log").find("bytes="), std::string::npos)
        << ReadFile(dir_ / "requests.log");
    for (const char* suffix : {".$p4p$", ".$finfo$", ".$fmap$"}) {
        EXPECT_FALSE(std::filesystem::exists(out + suffix)) << suffix;
    }
}

TEST_F(QgGetTest, ExitStatusSaysWhetherTheFileIsComplete) {
    const std::string data = Pattern(200000, 12);
    PythonServer server(QG_RANGE_SERVER, {Site("f.bin", data)});
    const std::string err = dir_ / "stderr.log";
    struct Case {
        const char* name;
        std::vector<std::string> args;  // "-o OUT" follows when `out` is set
        std::string out;
        int exit;
    };
    const std::string good = server.Url("/f.bin"), bad = server.Url("/nope");
    const Case cases[] = {
        {"complete", {good}, "a", 0},
        {"second mirror", {bad, good}, "b", 0},
        {"missing", {bad}, "c", 1},
        {"digest matches", {good, "--md5", Md5Hex(data)}, "m", 0},
        {"digest differs", {good, "--md5", Md5Hex("x")}, "w", 1},
        {"no output", {good}, "", 2},
        {"no url", {"-o", dir_ / "d"}, "", 2},
        {"bad digest", {good, "--md5", "xyz"}, "e", 2},
        {"bad count", {good, "--connections", "0"}, "e", 2},
        {"unknown option", {good, "--fast"}, "e", 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> args = c.args;
        const std::string out = c.out.empty() ? "" : dir_ / c.out;
        if (!out.empty()) args.insert(args.end(), {"-o", out});
        EXPECT_EQ(ExitCode(Spawn(args, err)), c.exit) << ReadFile(err);
        if (c.exit == 0) {
            EXPECT_TRUE(ReadFile(out) == data);
        } else if (!out.empty()) {
            EXPECT_FALSE(std::filesystem::exists(out));
        }
    }
}

TEST_F(QgGetTest, EveryUrlIsAMirrorFetchedFromAtOnce) {
    const std::string data = Pattern(4 << 20, 13);
    std::vector<std::unique_ptr<PythonServer>> mirrors;
    std::vector<std::string> args;
    for (const char* name : {"a", "b"}) {
        const std::filesystem::path site = dir_.path() / name / "site";
        std::filesystem::create_directories(site);
        std::ofstream(site / "f.bin", std::ios::binary) << data;
        mirrors.push_back(std::make_unique<PythonServer>(
            QG_RANGE_SERVER, std::vector<std::string>{site.string(), "1000000"}));
        args.push_back(mirrors.back()->Url("/f.bin"));
    }
    const std::string out = dir_ / "out.bin";
    args.insert(args.end(), {"-o", out});
    const std::string err = dir_ / "stderr.log";
    ASSERT_EQ(ExitCode(Spawn(args, err)), 0) << ReadFile(err);
    EXPECT_TRUE(ReadFile(out) == data);
    for (const char* name : {"a", "b"}) {
        EXPECT_NE(ReadFile(dir_ / (std::string(name) + "/requests.log")).find("bytes="),
                  std::string::npos)
            << name << " was not asked for a range";
    }
}

}  // namespace
