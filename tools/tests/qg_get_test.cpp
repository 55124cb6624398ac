// qg-get as a process: killed at random moments and run again, the file comes out whole;
// its exit status says whether it did; a second one fetches from the first one's block server.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>
#include <vector>

#include "engine/resume_state.h"
#include "testing/mirror_log.h"
#include "testing/program_server.h"
#include "testing/python_server.h"
#include "testing/temp_dir.h"
#include "testing/test_bytes.h"

namespace {

using testing_support::Md5Hex;
using testing_support::MirrorLog;
using testing_support::MirrorSentBytes;
using testing_support::PythonServer;
using testing_support::RandomBytes;
using testing_support::ReadFile;
using testing_support::SpawnProgram;
using testing_support::TempDir;
using testing_support::WriteFile;

pid_t Spawn(const std::vector<std::string>& args, const std::string& errFile) {
    return SpawnProgram(QG_GET_BINARY, args, errFile);
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
    // A mirror of its own in DIR/NAME/site: its logs go to DIR/NAME.
    std::unique_ptr<PythonServer> MirrorIn(const char* name, const std::string& data,
                                           const char* rate, bool withBlockList = false) {
        const std::filesystem::path site = dir_.path() / name / "site";
        std::filesystem::create_directories(site);
        std::ofstream(site / "f.bin", std::ios::binary) << data;
        if (withBlockList) {
            EXPECT_EQ(ExitCode(Spawn({"--make-blocks", site / "f.bin"}, dir_ / "make.log")), 0)
                << ReadFile(dir_ / "make.log");
        }
        return std::make_unique<PythonServer>(
            QG_MIRROR_SERVER, std::vector<std::string>{site.string(), "good", rate});
    }
    TempDir dir_{"qg_get"};
};

TEST_F(QgGetTest, KilledRunsResumeToTheRightFile) {
    const std::string data = RandomBytes(3 << 20, 11);
    PythonServer server(QG_MIRROR_SERVER, {Site("f.bin", data), "good", "1000000"});
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
    const std::string asked = ReadFile(MirrorLog(dir_.path(), "good", server.port(), ".count"));
    EXPECT_NE(asked.find("bytes="), std::string::npos) << asked;
    for (const char* suffix : {".$p4p$", ".$finfo$", ".$fmap$"}) {
        EXPECT_FALSE(std::filesystem::exists(out + suffix)) << suffix;
    }
}

TEST_F(QgGetTest, ExitStatusSaysWhetherTheFileIsComplete) {
    const std::string data = RandomBytes(200000, 12);
    PythonServer server(QG_MIRROR_SERVER, {Site("f.bin", data), "good"});
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
        {"file over the size limit", {good, "--max-size", "100000"}, "l", 1},
        {"bad size limit", {good, "--max-size", "0"}, "e", 2},
        // A list digest given: the list beside the file must be there and match.
        {"no block list to match", {good, "--blocks-sha256", std::string(64, '0')}, "s", 1},
        {"bad list digest", {good, "--blocks-sha256", "xyz"}, "e", 2},
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
    const std::string data = RandomBytes(4 << 20, 13);
    std::vector<std::unique_ptr<PythonServer>> mirrors;
    std::vector<std::string> args;
    for (const char* name : {"a", "b"}) {
        mirrors.push_back(MirrorIn(name, data, "1000000"));
        args.push_back(mirrors.back()->Url("/f.bin"));
    }
    const std::string out = dir_ / "out.bin";
    args.insert(args.end(), {"-o", out});
    const std::string err = dir_ / "stderr.log";
    ASSERT_EQ(ExitCode(Spawn(args, err)), 0) << ReadFile(err);
    EXPECT_TRUE(ReadFile(out) == data);
    for (size_t i = 0; i < mirrors.size(); ++i) {
        const std::filesystem::path root = dir_.path() / (i == 0 ? "a" : "b");
        EXPECT_NE(ReadFile(MirrorLog(root, "good", mirrors[i]->port(), ".count")).find("bytes="),
                  std::string::npos)
            << root << " was not asked for a range";
    }
}

// A state that claims more than any file could hold (one-byte blocks of 2^50 bytes would
// be 2^50 bits of block flags) is not trusted: the download starts afresh and completes.
TEST_F(QgGetTest, HostileResumeStateStartsAfresh) {
    const std::string data = RandomBytes(300000, 15);
    PythonServer server(QG_MIRROR_SERVER, {Site("f.bin", data), "good"});
    const std::string url = server.Url("/f.bin");
    const std::string err = dir_ / "stderr.log";
    const std::string openRegion =
        "[FileInfo]\r\nRegionCompleted=0\r\nRegionUnCompleted=1\r\n"
        "[UnCompleted.0]\r\nStart=0\r\nLength=1\r\n";
    struct Case {
        const char* name;
        std::string blockSize, length;
    } cases[] = {
        {"one-byte blocks of 2^50 bytes", "1", "1125899906842624"},
        {"2^31-1-byte blocks of 2^63-1 bytes", "2147483647", "9223372036854775807"},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string out = dir_ / ("out" + std::to_string(n++));
        WriteFile(out + ".$finfo$", "[FileInfo]\r\nBlockSize=" + c.blockSize + "\r\nLength=" +
                                        c.length + "\r\nDlMode=0\r\nURL=" + url + "\r\n");
        WriteFile(out + ".$fmap$", openRegion);
        WriteFile(out + ".$p4p$", "");
        EXPECT_EQ(ExitCode(Spawn({url, "-o", out}, err)), 0) << ReadFile(err);
        EXPECT_TRUE(ReadFile(out) == data);
        EXPECT_FALSE(std::filesystem::exists(out + ".$finfo$"));
    }
}

// Polls `ready` until it holds or the child ends; the time-out is only a safety net.
bool WaitWhileRunning(pid_t child, const std::function<bool()>& ready) {
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::minutes(2);
    while (std::chrono::steady_clock::now() < giveUp) {
        if (ready()) return true;
        int status = 0;
        if (waitpid(child, &status, WNOHANG) == child) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

// Leaves the state of an interrupted download of `data` from `url` at `target`, whose back
// half has arrived.
void LeaveBackHalfHeld(const std::string& target, const std::string& url, const std::string& data,
                       const std::string& md5) {
    constexpr int32_t kBlock = 256 * 1024;
    const int32_t blocks = static_cast<int32_t>(data.size() / kBlock), half = blocks / 2;
    engine::ResumeFiles files(target);
    engine::FileDescription d;
    d.blockSize = kBlock;
    d.length = static_cast<int64_t>(data.size());
    d.url = url;
    d.md5 = md5;
    ASSERT_TRUE(files.OpenData());
    const int64_t from = int64_t{half} * kBlock;
    ASSERT_EQ(files.WriteData(from, data.data() + from, data.size() - from),
              static_cast<int64_t>(data.size() - from));
    files.CloseData();
    ASSERT_TRUE(files.SaveDescription(d));
    ASSERT_TRUE(files.SaveRegionMap({{half, blocks - half, blocks, engine::RegionState::Confirmed},
                                     {0, half, 0, engine::RegionState::Unscheduled}}));
}

TEST_F(QgGetTest, SecondEngineFetchesFromTheFirstOnesBlockServer) {
    const std::string data = RandomBytes(4 << 20, 14);
    const std::string md5 = Md5Hex(data);
    // A mirror for each engine, so that each log tells what went to whom. Each publishes
    // the file's block list beside it: an engine serves only bytes that passed their hash.
    std::vector<std::unique_ptr<PythonServer>> mirrors;
    mirrors.push_back(MirrorIn("a", data, "200000", true));
    mirrors.push_back(MirrorIn("b", data, "400000", true));
    // The first engine resumes a download whose back half it holds and fetches the front
    // with one slow connection, for seconds. The first range the second engine asks a peer
    // for is the back half of the file, so the first has it to give from its start.
    const std::string firstOut = dir_ / "first.bin";
    LeaveBackHalfHeld(firstOut, mirrors[0]->Url("/f.bin"), data, md5);
    // An engine publishes what it holds only with a lookup server; this one knows nothing.
    WriteFile(dir_ / "nothing", "FAILED");
    PythonServer firstLookup(QG_LOOKUP_SERVER, {dir_ / "nothing", dir_ / "first.request"});
    const std::string firstErr = dir_ / "first.log";
    const pid_t first = Spawn({mirrors[0]->Url("/f.bin"), "-o", firstOut, "--md5", md5, "--lookup",
                               firstLookup.host(), "--connections", "1"},
                              firstErr);
    uint32_t port = 0;
    const bool serving = WaitWhileRunning(first, [&] {
        const std::string err = ReadFile(firstErr);
        const size_t line = err.find("block server port ");
        if (line != std::string::npos)
            std::sscanf(err.c_str() + line, "block server port %u", &port);
        return port != 0;
    });
    if (!serving) ::kill(first, SIGKILL);
    ASSERT_TRUE(serving) << ReadFile(firstErr);

    // The second engine's lookup names the first one's block server, under the file's key.
    WriteFile(dir_ / "peer", "Length=" + std::to_string(data.size()) + "\r\n\r\nhttp://127.0.0.1:" +
                                 std::to_string(port) + "/" + md5 + "\tkind=peer\r\n");
    PythonServer secondLookup(QG_LOOKUP_SERVER, {dir_ / "peer", dir_ / "second.request"});
    const std::string secondErr = dir_ / "second.log";
    const std::string out = dir_ / "second.bin";
    // One connection to its mirror: the peer joins once the length is known, and finds the
    // back half of the file still open then.
    EXPECT_EQ(ExitCode(Spawn({mirrors[1]->Url("/f.bin"), "-o", out, "--md5", md5, "--lookup",
                              secondLookup.host(), "--connections", "1"},
                             secondErr)),
              0)
        << ReadFile(secondErr);
    EXPECT_EQ(ExitCode(first), 0) << ReadFile(firstErr);
    EXPECT_TRUE(ReadFile(out) == data);
    EXPECT_TRUE(ReadFile(firstOut) == data);
    // Its own mirror sent the second engine less than the file: the rest came from the first.
    EXPECT_LT(MirrorSentBytes(dir_.path() / "b", "good", mirrors[1]->port()),
              static_cast<int64_t>(data.size()));
}

// --json: stdout carries the transfer as JSON lines, read here with Python's json module
// (testing/json_lines_summary.py): progress with its figures, then the end and its cause.
TEST_F(QgGetTest, JsonLinesTellTheProgressAndTheEnd) {
    const std::string data = RandomBytes(3 << 20, 12);
    PythonServer server(QG_MIRROR_SERVER, {Site("f.bin", data), "good", "1000000"});
    auto run = [&](const std::string& url, const std::string& out) {
        const std::string script = dir_ / "run.sh";
        WriteFile(script, std::string(QG_GET_BINARY) + " " + url + " -o " + out +
                              " --json 2>/dev/null | " + QG_SYSTEM_PYTHON + " " + QG_JSON_SUMMARY +
                              "\necho ${PIPESTATUS[0]} ${PIPESTATUS[1]}\n");
        std::string summary;
        FILE* pipe = popen(("bash " + script).c_str(), "r");
        char buffer[4096];
        for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
            summary.append(buffer, n);
        pclose(pipe);
        return summary;
    };
    const std::string summary = run(server.Url("/f.bin"), dir_ / "out.bin");
    EXPECT_NE(summary.find("progress bytes="), std::string::npos) << summary;
    EXPECT_NE(summary.find(" size=3145728 speed="), std::string::npos) << summary;
    EXPECT_NE(summary.find(" sources="), std::string::npos) << summary;
    const std::string end = "end complete=true cause=\"complete\" state=2 dropped=0\n0 0\n";
    EXPECT_EQ(summary.substr(summary.size() - std::min(summary.size(), end.size())), end)
        << summary;
    EXPECT_TRUE(ReadFile(dir_ / "out.bin") == data);

    const std::string missing = run(server.Url("/missing.bin"), dir_ / "missing.bin");
    const std::string failed = "end complete=false cause=\"no-source\" state=4 dropped=0\n1 0\n";
    EXPECT_EQ(missing.substr(missing.size() - std::min(missing.size(), failed.size())), failed)
        << missing;
}

// A source named by a lookup, or a mirror of the caller's own, that sends other bytes: the
// file comes out exact all the same, from the caller's URL alone when nothing checks the
// others, and the hostile source is dropped and named when something does.
TEST_F(QgGetTest, HostileSourcesNeverDecideTheBytes) {
    const std::string data = RandomBytes(3 << 20, 15);
    struct Case {
        const char* name;
        bool hostileInLookup;  // else among the caller's URLs
        bool md5, blocks;
        bool blamed;  // the hostile sources asked and dropped
    };
    const Case cases[] = {
        {"lookup, nothing to check against", true, false, false, false},
        {"lookup, the caller's digest", true, true, false, true},
        {"lookup, a block list beside the file", true, false, true, true},
        {"caller's own mirror, the caller's digest", false, true, false, true},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string root = "case" + std::to_string(n++);
        // The caller's URL is slow enough that every other source gets work.
        auto caller = MirrorIn((root + "/caller").c_str(), data, "1000000");
        if (c.blocks) {
            const std::string file = dir_ / (root + "/caller/site/f.bin");
            ASSERT_EQ(
                ExitCode(SpawnProgram(QGPATCH_BINARY, {"blocks", file}, dir_ / "qgpatch.log")), 0)
                << ReadFile(dir_ / "qgpatch.log");
        }
        const std::filesystem::path hostileRoot = dir_.path() / root / "hostile";
        std::filesystem::create_directories(hostileRoot / "site");
        WriteFile(hostileRoot / "site/f.bin", data);
        PythonServer mirror(QG_MIRROR_SERVER, {hostileRoot / "site", "wrong"});
        const std::filesystem::path peerRoot = dir_.path() / root / "peer";
        std::filesystem::create_directories(peerRoot / "site");
        WriteFile(peerRoot / "site/f.bin", data);
        PythonServer peer(QG_MIRROR_SERVER, {peerRoot / "site", "wrong"});
        // The lookup tells the right length and digest: neither makes its sources trusted.
        const std::string answer = dir_ / (root + "/answer");
        WriteFile(answer, "Length=" + std::to_string(data.size()) +
                              "\r\nX=1\r\nMD5=" + Md5Hex(data) + "\r\n\r\n" + mirror.Url("/f.bin") +
                              "\tkind=mirror\r\n" + peer.Url("/f.bin") + "\tkind=peer\r\n");
        PythonServer lookup(QG_LOOKUP_SERVER, {answer, dir_ / (root + "/request")});

        const std::string out = dir_ / (root + "/out.bin");
        std::vector<std::string> args = {caller->Url("/f.bin"), "-o", out};
        if (c.hostileInLookup) {
            args.insert(args.end(), {"--lookup", lookup.host()});
        } else {
            args.push_back(mirror.Url("/f.bin"));
        }
        if (c.md5) args.insert(args.end(), {"--md5", Md5Hex(data)});
        const std::string err = dir_ / (root + "/stderr.log");
        EXPECT_EQ(ExitCode(Spawn(args, err)), 0) << ReadFile(err);
        EXPECT_TRUE(ReadFile(out) == data);
        const std::string asked =
            ReadFile(MirrorLog(hostileRoot, "wrong", mirror.port(), ".count"));
        if (c.blamed) {
            EXPECT_FALSE(asked.empty());
            EXPECT_NE(ReadFile(err).find("dropped for wrong bytes"), std::string::npos)
                << ReadFile(err);
        } else {
            // Nothing could check their bytes: they were never asked.
            EXPECT_EQ(asked, "");
            EXPECT_EQ(ReadFile(MirrorLog(peerRoot, "wrong", peer.port(), ".count")), "");
        }
    }
}

// With a block list published by qgpatch, a wrong block never reaches the data file: a run
// killed after the hostile mirror answered holds none of its bytes, and a full run names it.
TEST_F(QgGetTest, AWrongBlockIsNeverWritten) {
    const std::string data = RandomBytes(3 << 20, 16);
    auto good = MirrorIn("good", data, "500000");
    ASSERT_EQ(ExitCode(SpawnProgram(QGPATCH_BINARY, {"blocks", dir_ / "good/site/f.bin"},
                                    dir_ / "qgpatch.log")),
              0)
        << ReadFile(dir_ / "qgpatch.log");
    std::filesystem::create_directories(dir_.path() / "bad/site");
    WriteFile(dir_ / "bad/site/f.bin", data);
    PythonServer bad(QG_MIRROR_SERVER, {dir_ / "bad/site", "wrong"});
    const std::string out = dir_ / "out.bin";
    const std::vector<std::string> args = {good->Url("/f.bin"), bad.Url("/f.bin"), "-o", out};
    const std::string err = dir_ / "stderr.log";
    const std::string sent = MirrorLog(dir_.path() / "bad", "wrong", bad.port(), ".sent");
    const pid_t first = Spawn(args, err);
    const bool answered = WaitWhileRunning(first, [&] { return !ReadFile(sent).empty(); });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ::kill(first, SIGKILL);
    ExitCode(first);
    ASSERT_TRUE(answered) << ReadFile(err);
    // No block of the data file holds the hostile mirror's (inverted) bytes.
    const std::string held = ReadFile(out + ".$p4p$");
    constexpr size_t kBlock = 256 * 1024;
    for (size_t at = 0; at < held.size(); at += kBlock) {
        const std::string block = held.substr(at, kBlock);
        std::string inverted = data.substr(at, block.size());
        for (char& ch : inverted) ch = static_cast<char>(~ch);
        EXPECT_FALSE(block == inverted) << "block at " << at;
    }
    EXPECT_EQ(ExitCode(Spawn(args, err)), 0) << ReadFile(err);
    EXPECT_TRUE(ReadFile(out) == data);
    EXPECT_NE(ReadFile(err).find("dropped for wrong bytes, the last: " + bad.Url("/f.bin")),
              std::string::npos)
        << ReadFile(err);
}

TEST_F(QgGetTest, AnAnswerWithoutLengthEndsAtTheSizeLimit) {
    std::filesystem::create_directories(dir_.path() / "site");
    PythonServer endless(QG_MIRROR_SERVER, {dir_ / "site", "endless"});
    const std::string out = dir_ / "out.bin";
    const std::string err = dir_ / "stderr.log";
    EXPECT_EQ(ExitCode(Spawn({endless.Url("/f.bin"), "-o", out, "--max-size", "3000000"}, err)), 1);
    EXPECT_NE(ReadFile(err).find("size limit"), std::string::npos) << ReadFile(err);
    for (const char* suffix : {"", ".$p4p$", ".$finfo$", ".$fmap$"}) {
        EXPECT_FALSE(std::filesystem::exists(out + suffix)) << suffix;
    }
}

}  // namespace
