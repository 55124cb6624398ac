// The FTP source against pyftpdlib (a real server) and against a scripted server for the
// replies a real one will not give. Both run on 127.0.0.1 and end with the test.
#include "engine/ftp_source.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "engine/tests/test_pattern.h"
#include "testing/python_server.h"
#include "testing/temp_dir.h"

namespace engine {
namespace {

using engine_test::Pattern;
using testing_support::PythonServer;

constexpr int64_t kFileSize = 300000;

// Short time-outs: the stalling servers of these tests never answer at all.
constexpr FtpTimeouts kQuick{2000, 1000, 1000};

// Reads up to `limit` bytes of an opened transfer; stops at the end or a failure.
std::string ReadAll(FtpSource& source, size_t limit = SIZE_MAX) {
    std::string got;
    char buffer[8192];
    while (got.size() < limit) {
        const int64_t n = source.Read(buffer, std::min(sizeof buffer, limit - got.size()));
        if (n <= 0) break;
        got.append(buffer, static_cast<size_t>(n));
    }
    return got;
}

struct RealServer {
    testing_support::TempDir dir{"qg_ftp"};
    std::unique_ptr<PythonServer> server;
    explicit RealServer(std::vector<std::string> login = {}) {
        testing_support::WriteFile(dir / "file.bin", Pattern(0, kFileSize));
        std::vector<std::string> args = {dir.path().string()};
        args.insert(args.end(), login.begin(), login.end());
        server = std::make_unique<PythonServer>(QG_REAL_FTP_SERVER, args);
    }
    std::string Url(const std::string& path, const std::string& login = "") const {
        return "ftp://" + login + "127.0.0.1:" + std::to_string(server->port()) + path;
    }
};

struct ScriptedServer {
    PythonServer server;
    explicit ScriptedServer(const std::string& modes, int64_t size = kFileSize)
        : server(QG_SCRIPTED_FTP_SERVER, {modes, std::to_string(size)}) {}
    std::string Url(const std::string& path = "/file.bin") const {
        return "ftp://127.0.0.1:" + std::to_string(server.port()) + path;
    }
};

TEST(FtpSourceReal, AnonymousProbeAndTransfersAtOffsets) {
    RealServer real;
    FtpSource source(real.Url("/file.bin"));
    int64_t size = -1;
    EXPECT_EQ(source.Probe(size), 206);
    EXPECT_EQ(size, kFileSize);

    ASSERT_EQ(source.Open(0), 200);
    EXPECT_EQ(ReadAll(source), Pattern(0, kFileSize));
    // After a transfer that ran to its end, and after one broken off midway.
    ASSERT_EQ(source.Open(123457), 200);
    EXPECT_EQ(ReadAll(source, 1000), Pattern(123457, 1000));
    EXPECT_EQ(source.Open(124457), 200) << "the open transfer continues at its position";
    ASSERT_EQ(source.Open(7), 200);
    EXPECT_EQ(ReadAll(source), Pattern(7, kFileSize - 7));
    EXPECT_EQ(source.Probe(size), 206) << "the control connection is still in step";
}

TEST(FtpSourceReal, LoginsAndFailures) {
    RealServer real({"player", "s3cret"});
    struct Row {
        std::string name, url;
        int probe, open;
    } rows[] = {
        {"user and password", real.Url("/file.bin", "player:s3cret@"), 206, 200},
        {"bad password", real.Url("/file.bin", "player:wrong@"), 400, 400},
        {"anonymous refused", real.Url("/file.bin"), 400, 400},
        {"missing file", real.Url("/missing.bin", "player:s3cret@"), 405, 403},
    };
    for (const Row& row : rows) {
        FtpSource source(row.url);
        int64_t size = -1;
        EXPECT_EQ(source.Probe(size), row.probe) << row.name;
        if (row.probe == 206) {
            EXPECT_EQ(size, kFileSize) << row.name;
        }
        EXPECT_EQ(source.Open(0), row.open) << row.name;
        if (row.open == 200) {
            EXPECT_EQ(ReadAll(source), Pattern(0, kFileSize)) << row.name;
        }
    }
    FtpSource source("ftp://127.0.0.1:1/file.bin", kQuick);
    EXPECT_EQ(source.Connect("ftp://127.0.0.1:1/file.bin"), -1) << "nobody listens there";
}

TEST(FtpSourceScripted, UnusualButValidServers) {
    struct Row {
        std::string modes;
        int probe;
        int64_t openAt;
        int open;
    } rows[] = {
        {"user230", 206, 1000, 200},         // no PASS: the server would refuse one
        {"multiline", 206, 1000, 200},       // "150-" ... "150 " is one reply
        {"pasv-elsewhere", 206, 1000, 200},  // the data goes to the control's address
        {"nolist", 206, 1000, 200},          // the size comes from SIZE
        {"norest", 200, 0, 200},             // no resume, a transfer from the start
        {"norest", 200, 1000, 401},
    };
    for (const Row& row : rows) {
        ScriptedServer scripted(row.modes);
        FtpSource source(scripted.Url(), kQuick);
        int64_t size = -1;
        EXPECT_EQ(source.Probe(size), row.probe) << row.modes;
        EXPECT_EQ(size, kFileSize) << row.modes;
        EXPECT_EQ(source.Open(row.openAt), row.open) << row.modes;
        if (row.open == 200) {
            EXPECT_EQ(ReadAll(source), Pattern(row.openAt, kFileSize - row.openAt)) << row.modes;
        }
    }
}

TEST(FtpSourceScripted, StallsAndEndlessRepliesEndTheStep) {
    struct Row {
        std::string modes;
        int probe, open;
    } rows[] = {
        {"silent", 400, 400},      // no greeting
        {"stall-type", 401, 401},  // TYPE never answered
        {"endless", 401, 401},     // TYPE answered with lines without end
    };
    for (const Row& row : rows) {
        ScriptedServer scripted(row.modes);
        FtpSource source(scripted.Url(), kQuick);
        int64_t size = -1;
        EXPECT_EQ(source.Probe(size), row.probe) << row.modes;
        EXPECT_EQ(source.Open(0), row.open) << row.modes;
        EXPECT_FALSE(source.dataOpen()) << row.modes;
    }
}

TEST(FtpSourceScripted, StalledDataEndsTheRead) {
    ScriptedServer scripted("stall-data");
    FtpSource source(scripted.Url(), kQuick);
    ASSERT_EQ(source.Open(0), 200);
    EXPECT_EQ(ReadAll(source), Pattern(0, 1000));
    EXPECT_FALSE(source.dataOpen());
}

TEST(FtpSourceScripted, AnInterruptEndsEveryWaitAtOnce) {
    // Time-outs of an hour: only the interrupt ends these waits (a source that ignored it
    // would run into the test's own time-out).
    constexpr FtpTimeouts kPatient{3600000, 3600000, 3600000};
    for (const char* modes : {"silent", "stall-type", "stall-data"}) {
        ScriptedServer scripted(modes);
        platform::SocketInterrupt interrupt;
        FtpSource source(scripted.Url(), kPatient);
        source.SetInterrupt(&interrupt);
        std::thread stopper([&interrupt] {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            interrupt.Interrupt();
        });
        if (source.Open(0) == 200) {
            EXPECT_EQ(ReadAll(source), Pattern(0, 1000)) << modes;
        }
        stopper.join();
        EXPECT_FALSE(source.dataOpen()) << modes;
        // Once interrupted, a source does not connect again.
        EXPECT_EQ(source.Connect(scripted.Url()), -1) << modes;
    }
}

TEST(FtpSourceScripted, OffsetsPast4GiBUseAWideRestart) {
    const int64_t size = int64_t{5} << 30;
    const int64_t offset = (int64_t{3} << 30) + 7;
    ScriptedServer scripted("", size);
    FtpSource source(scripted.Url(), kQuick);
    int64_t probed = -1;
    EXPECT_EQ(source.Probe(probed), 206);
    EXPECT_EQ(probed, size);
    ASSERT_EQ(source.Open(offset), 200);
    EXPECT_EQ(ReadAll(source, 5000), Pattern(offset, 5000));
}

}  // namespace
}  // namespace engine
