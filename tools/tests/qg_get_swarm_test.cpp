// Several qg-get processes on one file, with the real qg-lookup between them and one slow
// nginx origin: they fetch from each other, so the origin sends the file about once; a peer
// that sends wrong bytes is dropped; a finished engine seeds for its time, then withdraws.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "engine/peer_lookup.h"
#include "engine/source_line.h"
#include "testing/program_server.h"
#include "testing/python_server.h"
#include "testing/temp_dir.h"
#include "testing/test_bytes.h"

namespace {

using testing_support::Md5Hex;
using testing_support::ProgramServer;
using testing_support::PythonServer;
using testing_support::RandomBytes;
using testing_support::ReadFile;
using testing_support::SpawnProgram;
using testing_support::TempDir;
using testing_support::WriteFile;
using namespace std::chrono_literals;

int ExitCode(pid_t child) {
    int status = 0;
    if (waitpid(child, &status, 0) != child) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// The bytes nginx sent, from its access log (one line per request, the count last).
int64_t NginxSent(const std::filesystem::path& root, int port) {
    std::ifstream in(root / ("nginx-" + std::to_string(port) + ".count"));
    int64_t total = 0;
    for (std::string line; std::getline(in, line);) {
        const size_t blank = line.rfind(' ');
        if (blank != std::string::npos) total += std::atoll(line.c_str() + blank + 1);
    }
    return total;
}

// The URL of each peer the lookup names for the file of `md5`, asked as an engine with
// no block server of its own.
std::vector<std::string> PeersListed(int lookupPort, const std::string& md5) {
    engine::LookupRequest request;
    request.host = "127.0.0.1";
    request.port = static_cast<uint16_t>(lookupPort);
    request.md5 = md5;
    request.userId = "test";
    int64_t size = -1;
    std::string digest;
    std::vector<std::string> lines;
    std::vector<std::string> peers;
    if (engine::QueryFileSources(request, size, digest, lines) != engine::kLookupOk) return peers;
    for (const std::string& text : lines) {
        engine::SourceLine line;
        if (engine::ParseSourceLine(text, line) && line.Field("kind") == "peer")
            peers.push_back(line.url);
    }
    return peers;
}

// Waits until `path` holds `text` (a child writes it), at most a minute.
bool WaitForText(const std::string& path, const std::string& text) {
    for (int i = 0; i < 600; ++i) {
        if (ReadFile(path).find(text) != std::string::npos) return true;
        std::this_thread::sleep_for(100ms);
    }
    return false;
}

class QgGetSwarmTest : public ::testing::Test {
  protected:
    // An nginx origin serving `data` as /f.bin, each answer at `rate` bytes per second and
    // `connections` at once in all (every engine asks from 127.0.0.1).
    std::unique_ptr<PythonServer> Origin(const std::string& data, bool withBlockList,
                                         const char* rate, const char* connections) {
        const std::filesystem::path site = dir_.path() / "origin/site";
        std::filesystem::create_directories(site);
        WriteFile(site / "f.bin", data);
        if (withBlockList) {
            EXPECT_EQ(ExitCode(SpawnProgram(QG_GET_BINARY, {"--make-blocks", site / "f.bin"},
                                            dir_ / "make.log")),
                      0)
                << ReadFile(dir_ / "make.log");
        }
        return std::make_unique<PythonServer>(QG_NGINX_SERVER,
                                              std::vector<std::string>{site, rate, connections});
    }
    std::unique_ptr<ProgramServer> Lookup() {
        return std::make_unique<ProgramServer>(QG_LOOKUP_BINARY,
                                               std::vector<std::string>{"--listen", "127.0.0.1:0"},
                                               dir_ / "lookup.log");
    }
    std::vector<std::string> Engine(const PythonServer& origin, const ProgramServer& lookup,
                                    const std::string& out) {
        return {origin.Url("/f.bin"),
                "-o",
                out,
                "--lookup",
                "127.0.0.1:" + std::to_string(lookup.port()),
                "--upload-limit",
                "0"};
    }
    TempDir dir_{"qg_get_swarm"};
};

// With a block list every engine serves each block once it passed, so three engines started
// a second apart share the download; with the digest alone a file is served once it is
// whole, so the first engine seeds the other two. Either way the origin sends each byte to
// about one of them, and every file is exact. A finished engine keeps serving for its
// seeding time, listed at the lookup, and withdraws when it ends.
TEST_F(QgGetSwarmTest, EnginesFetchFromEachOtherAndTheOriginSendsTheFileAboutOnce) {
    struct Case {
        const char* name;
        bool blockList;
    };
    for (const Case c : {Case{"block list", true}, Case{"digest", false}}) {
        SCOPED_TRACE(c.name);
        const std::string data = RandomBytes(4 << 20, c.blockList ? 31 : 32);
        const std::string md5 = Md5Hex(data);
        std::filesystem::remove_all(dir_.path() / "origin");
        // About 600 KB/s in all: one copy takes some 7 s.
        auto origin = Origin(data, c.blockList, "300000", "2");
        auto lookup = Lookup();
        std::vector<pid_t> engines;
        std::vector<std::string> outs, errs;
        for (int i = 0; i < 3; ++i) {
            outs.push_back(dir_ / ("out" + std::to_string(i) + (c.blockList ? "b" : "d")));
            errs.push_back(outs.back() + ".log");
            std::vector<std::string> args = Engine(*origin, *lookup, outs.back());
            args.insert(args.end(), {"--md5", md5, "--seed", i == 0 ? "6" : "2"});
            if (i == 0) args.insert(args.end(), {"--peer-listen", "127.0.0.1:0"});
            if (i > 0) {
                if (c.blockList) {
                    std::this_thread::sleep_for(1s);
                } else if (i == 1) {
                    // The first is whole and seeding: the lookup lists it.
                    ASSERT_TRUE(WaitForText(errs[0], "seeding on port")) << ReadFile(errs[0]);
                    EXPECT_EQ(PeersListed(lookup->port(), md5).size(), 1u);
                }
            }
            engines.push_back(SpawnProgram(QG_GET_BINARY, args, errs.back()));
        }
        for (size_t i = 0; i < engines.size(); ++i) {
            EXPECT_EQ(ExitCode(engines[i]), 0) << ReadFile(errs[i]);
            EXPECT_TRUE(ReadFile(outs[i]) == data) << i;
            EXPECT_NE(ReadFile(errs[i]).find("seeding ended"), std::string::npos);
        }
        const int64_t sent = NginxSent(dir_.path() / "origin", origin->port());
        std::printf("%s: the origin sent %.2f times the file\n", c.name,
                    static_cast<double>(sent) / static_cast<double>(data.size()));
        // Far less than the three copies it would send without peers (about 1.2 to 1.5 here:
        // engines that begin together fetch some bytes of the origin at the same time).
        EXPECT_LT(sent, static_cast<int64_t>(data.size()) * 2)
            << "the origin sent " << sent << " bytes of a file of " << data.size();
        // Each withdrew as its seeding ended: nobody is listed, long before the time to live.
        EXPECT_TRUE(PeersListed(lookup->port(), md5).empty());
    }
}

// A peer announced at the lookup that claims the whole file and sends other bytes: with a
// block list its first wrong block drops it, with the digest alone the round of blame after
// the digest failed; the file comes from the origin and is exact.
TEST_F(QgGetSwarmTest, APeerThatSendsWrongBytesIsDropped) {
    struct Case {
        const char* name;
        bool blockList;
    };
    for (const Case c : {Case{"block list", true}, Case{"digest", false}}) {
        SCOPED_TRACE(c.name);
        const std::string data = RandomBytes(2 << 20, c.blockList ? 33 : 34);
        const std::string md5 = Md5Hex(data);
        std::filesystem::remove_all(dir_.path() / "origin");
        auto origin = Origin(data, c.blockList, "500000", "0");
        auto lookup = Lookup();
        // It serves /KEY (the file's digest) from its folder, every byte changed.
        const std::filesystem::path hostile =
            dir_.path() / ("hostile" + std::to_string(c.blockList));
        std::filesystem::create_directories(hostile / "site");
        WriteFile(hostile / "site" / md5, data);
        PythonServer peer(QG_MIRROR_SERVER, {hostile / "site", "wrong"});
        engine::LookupPost announce;
        announce.host = "127.0.0.1";
        announce.port = static_cast<uint16_t>(lookup->port());
        announce.path = "announce";
        announce.body = "key=" + md5 + "&port=" + std::to_string(peer.port()) +
                        "&length=" + std::to_string(data.size()) +
                        "&held=" + std::to_string(data.size()) + "&md5=" + md5 + "&complete=1" +
                        "&url=" + engine::FormEscape(origin->Url("/f.bin"));
        std::string answer;
        ASSERT_TRUE(engine::PostLookupForm(announce, answer));
        ASSERT_EQ(answer.rfind("OK ttl=", 0), 0u) << answer;

        const std::string out = dir_ / ("out" + std::to_string(c.blockList));
        const std::string err = out + ".log";
        std::vector<std::string> args = Engine(*origin, *lookup, out);
        args.insert(args.end(), {"--md5", md5});
        EXPECT_EQ(ExitCode(SpawnProgram(QG_GET_BINARY, args, err)), 0) << ReadFile(err);
        EXPECT_TRUE(ReadFile(out) == data);
        EXPECT_NE(ReadFile(err).find("dropped for wrong bytes"), std::string::npos)
            << ReadFile(err);
        EXPECT_NE(ReadFile(err).find(std::to_string(peer.port())), std::string::npos);
    }
}

}  // namespace
