// The launcher program with the download engine on, against a signed site on a primary
// and a backup update server (nginx, slowed down) and a lookup service (qg-lookup), all on
// 127.0.0.1: a first launcher seeds the packages it fetched while a second one updates,
// and the second takes part of them from the first.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>

#include "platform/process.h"
#include "testing/mirror_log.h"
#include "testing/program_server.h"
#include "testing/python_server.h"
#include "testing/temp_dir.h"
#include "testing/test_bytes.h"

namespace {

namespace fs = std::filesystem;
using testing_support::NginxSentBytes;
using testing_support::ProgramServer;
using testing_support::PythonServer;
using testing_support::RandomBytes;
using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

constexpr size_t kFileBytes = 3 << 20;
// Each answer at 256 KiB/s, two connections per client and server: a package takes three
// seconds from both servers, while a seeding launcher on this machine sends faster.
constexpr const char* kRate = "262144";
constexpr const char* kConnections = "2";
const char* const kPackages[] = {"/p1.jzq", "/p2.pkg"};

// Runs a shell command; its output in `output`, true when it exits 0.
bool Shell(const std::string& command, std::string* output = nullptr) {
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr) return false;
    std::string text;
    char buffer[4096];
    for (size_t n; (n = fread(buffer, 1, sizeof(buffer), pipe)) > 0;) text.append(buffer, n);
    if (output) *output = text;
    const int status = pclose(pipe);
    return status == 0;
}

class LauncherPeersTest : public ::testing::Test {
  protected:
    void SetUp() override {
        // Three client versions, each adding a file the others do not have.
        fs::create_directories(dir_.path() / "v0");
        WriteFile(dir_ / "v0/.ver", "CN.1.0.0");
        WriteFile(dir_ / "v0/readme.txt", "first release\r\n");
        fs::copy(dir_ / "v0", dir_ / "v1", fs::copy_options::recursive);
        WriteFile(dir_ / "v1/big1.bin", RandomBytes(kFileBytes, 1));
        WriteFile(dir_ / "v1/.ver", "CN.1.0.1");
        fs::copy(dir_ / "v1", dir_ / "v2", fs::copy_options::recursive);
        WriteFile(dir_ / "v2/big2.bin", RandomBytes(kFileBytes, 2));
        WriteFile(dir_ / "v2/.ver", "CN.1.0.2");

        const std::string qgpatch = QGPATCH_BINARY;
        std::string out;
        ASSERT_TRUE(Shell("cd '" + dir_.path().string() + "' && " + qgpatch +
                              " diff v0 v1 -o site/p1.jzq --form sealed && " + qgpatch +
                              " diff v1 v2 -o site/p2.pkg --form scrambled && " + qgpatch +
                              " keygen -o operator.key",
                          &out))
            << out;
        publicKey_ = out.substr(out.rfind('\n', out.size() - 2) + 1);
        publicKey_.erase(publicKey_.find_last_not_of("\r\n") + 1);
        WriteFile(dir_ / "site/server.lst", "SERVER_BEGIN\r\n1|east|127.0.0.1:9000\r\n");
        ASSERT_TRUE(Shell("cd '" + dir_.path().string() + "' && " + qgpatch +
                              " site -o site/patchinfo.txt --latest CN.1.0.2 --quillgate CN.9.0" +
                              " --newquillgate " + primary_.Url("/quillgate.zip") +
                              " --patch CN.1.0.0 CN.1.0.1 " + primary_.Url("/p1.jzq") +
                              " --patch CN.1.0.1 CN.1.0.2 " + primary_.Url("/p2.pkg") +
                              " --key operator.key && " + qgpatch +
                              " sign --key operator.key site/server.lst",
                          &out))
            << out;
        fs::copy(dir_.path() / "site", dir_.path() / "backup",
                 fs::copy_options::recursive | fs::copy_options::overwrite_existing);
    }

    // A client at the first version with the launcher and the engine's keys.
    std::string MakeClient(const std::string& name) {
        const fs::path client = dir_ / name;
        fs::copy(dir_ / "v0", client, fs::copy_options::recursive);
        fs::copy_file(QG_LAUNCHER_BINARY, client / "quillgate.exe");
        std::string config = "[quillgate]\r\nverinfo=" + primary_.Url("/patchinfo.txt") +
                             "\r\nserverlist=" + primary_.Url("/server.lst") +
                             "\r\nbakserver=" + backup_.host() + "\r\npublickey=" + publicKey_ +
                             "\r\nengine=1\r\nlookup=127.0.0.1:" + std::to_string(lookup_->port()) +
                             "\r\n";
        WriteFile(client / "quillgate.cfg", config);
        return client.string();
    }

    // The packages' bytes that the two servers have sent so far.
    int64_t ServersSent() const {
        int64_t sent = 0;
        for (const char* package : kPackages)
            sent += NginxSentBytes(dir_ / "primary.log", package) +
                    NginxSentBytes(dir_ / "backup.log", package);
        return sent;
    }
    int64_t ChainBytes() const {
        int64_t size = 0;
        for (const char* package : kPackages)
            size += static_cast<int64_t>(fs::file_size(dir_.path() / "site" / (package + 1)));
        return size;
    }

    void ExpectNewestVersion(const std::string& client) {
        EXPECT_EQ(ReadFile(client + "/.ver"), "CN.1.0.2") << client;
        EXPECT_TRUE(ReadFile(client + "/big1.bin") == ReadFile(dir_ / "v2/big1.bin")) << client;
        EXPECT_TRUE(ReadFile(client + "/big2.bin") == ReadFile(dir_ / "v2/big2.bin")) << client;
    }

    TempDir dir_{"qg_launcher_peers"};
    // The servers' folders exist before the servers start.
    bool folders_ = fs::create_directories(dir_.path() / "site") &&
                    fs::create_directories(dir_.path() / "backup");
    PythonServer primary_{QG_NGINX_SERVER,
                          {dir_ / "site", kRate, kConnections, dir_ / "primary.log"}};
    PythonServer backup_{QG_NGINX_SERVER,
                         {dir_ / "backup", kRate, kConnections, dir_ / "backup.log"}};
    std::unique_ptr<ProgramServer> lookup_ = std::make_unique<ProgramServer>(
        QG_LOOKUP_BINARY, std::vector<std::string>{"--listen", "127.0.0.1:0"}, dir_ / "lookup.log");
    std::string publicKey_;
};

TEST_F(LauncherPeersTest, ASecondLauncherTakesPackagesFromTheServersAndASeedingFirstOne) {
    // The first launcher fetches everything from the two servers, then seeds.
    const std::string first = MakeClient("first");
    uint32_t firstId = 0;
    ASSERT_TRUE(platform::StartProcess(
                    "/bin/sh",
                    {"-c", "exec ./quillgate.exe -direct --headless --seed 600 > run.log 2>&1"},
                    first, &firstId)
                    .ok());
    bool seeding = false;
    for (int i = 0; i < 1200 && !seeding; ++i) {  // at most two minutes
        seeding = ReadFile(first + "/run.log").find("seeding for") != std::string::npos;
        if (!seeding) platform::SleepMilliseconds(100);
    }
    ASSERT_TRUE(seeding) << ReadFile(first + "/run.log");
    ExpectNewestVersion(first);
    for (const char* package : kPackages) {
        EXPECT_GT(NginxSentBytes(dir_ / "primary.log", package), 0) << package;
        EXPECT_GT(NginxSentBytes(dir_ / "backup.log", package), 0) << package;
    }

    const int64_t before = ServersSent();
    const std::string second = MakeClient("second");
    std::string out;
    EXPECT_TRUE(Shell("cd '" + second + "' && ./quillgate.exe -direct --headless", &out)) << out;
    ExpectNewestVersion(second);
    // Only part of the chain came from the servers: the rest came from the first launcher.
    const int64_t fromServers = ServersSent() - before;
    EXPECT_LT(fromServers, ChainBytes() * 9 / 10) << "the servers sent " << fromServers;

    // Ctrl+C ends the seeding, and the first launcher's result stands.
    ::kill(static_cast<pid_t>(firstId), SIGINT);
    EXPECT_EQ(platform::WaitForProcessFor(firstId, 30000), 0) << ReadFile(first + "/run.log");
}

}  // namespace
