// The lookup request against a scripted HTTP server on 127.0.0.1.
#include "engine/peer_lookup.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/http_transfer.h"
#include "testing/hang_guard.h"
#include "testing/python_server.h"
#include "testing/temp_dir.h"
#include "testing/wait_until.h"

namespace engine {
namespace {

using testing_support::ReadFile;
using testing_support::WaitUntil;
using testing_support::WriteFile;

struct LookupServer {
    testing_support::TempDir dir{"qg_lookup"};
    std::string answerPath = dir / "answer";
    std::string requestPath = dir / "request";
    std::unique_ptr<testing_support::PythonServer> server;

    explicit LookupServer(const std::string& status = "200") {
        WriteFile(answerPath, "");
        server = std::make_unique<testing_support::PythonServer>(
            QG_SCRIPTED_LOOKUP_SERVER, std::vector<std::string>{answerPath, requestPath, status});
    }
    LookupRequest Request() const {
        LookupRequest r;
        r.host = "127.0.0.1";
        r.port = static_cast<uint16_t>(server->port());
        r.url = "http://127.0.0.1/patch/a b.pak";
        r.referer = "http://127.0.0.1/";
        r.userId = "player1";
        r.pc = 2;
        r.mc = 5;
        r.connectTimeoutSeconds = 2;
        r.noDataTimeoutSeconds = 1;
        return r;
    }
};

TEST(PeerLookup, SendsTheRequestAndReadsAFullAnswer) {
    LookupServer s;
    WriteFile(s.answerPath,
              "Length=5368709120\r\nsources=2\r\nMD5=0123456789abcdef0123456789abcdef\r\n\r\n"
              "http://127.0.0.1:81/a.pak\r\nftp://127.0.0.1/a.pak\tweight=2\r\n");
    int64_t size = -1;
    std::string md5;
    std::vector<std::string> sources = {"kept"};
    ASSERT_EQ(QueryFileSources(s.Request(), size, md5, sources), kLookupOk);
    EXPECT_EQ(size, int64_t{5} << 30);
    EXPECT_EQ(md5, "0123456789ABCDEF0123456789ABCDEF");
    EXPECT_EQ(sources, (std::vector<std::string>{"kept", "http://127.0.0.1:81/a.pak",
                                                 "ftp://127.0.0.1/a.pak\tweight=2"}));

    const std::string request = ReadFile(s.requestPath);
    EXPECT_EQ(request.rfind("POST /getfipl.php HTTP/1.0\r\n", 0), 0u) << request;
    EXPECT_NE(request.find("User-Agent: Browser1.0\r\n"), std::string::npos) << request;
    EXPECT_NE(request.find("Accept: */*\r\n"), std::string::npos) << request;
    EXPECT_NE(request.find("Content-Type: application/x-www-form-urlencoded\r\n"),
              std::string::npos)
        << request;
    const std::string body =
        "url=http%3A%2F%2F127.0.0.1%2Fpatch%2Fa%20b.pak&refer=http%3A%2F%2F127.0.0.1%2F"
        "&uid=player1&pc=2&mc=5";
    EXPECT_EQ(request.substr(request.size() - body.size()), body) << request;
    EXPECT_NE(request.find("\r\n\r\n" + body), std::string::npos) << request;
}

TEST(PeerLookup, AsksByDigestWithoutAUrl) {
    LookupServer s;
    WriteFile(s.answerPath, "Length=3\r\n\r\n");
    LookupRequest r = s.Request();
    r.url.clear();
    r.md5 = "0123456789ABCDEF0123456789ABCDEF";
    int64_t size = -1;
    std::string md5;
    std::vector<std::string> sources;
    ASSERT_EQ(QueryFileSources(r, size, md5, sources), kLookupOk);
    EXPECT_EQ(size, 3);
    EXPECT_TRUE(sources.empty());
    const std::string request = ReadFile(s.requestPath);
    EXPECT_NE(request.find("\r\n\r\nmd5=0123456789ABCDEF0123456789ABCDEF&uid=player1&pc=2&mc=5"),
              std::string::npos)
        << request;
}

TEST(PeerLookup, AnswersThatChangeNothing) {
    struct Row {
        std::string name, status, answer;
        int code;
    } rows[] = {
        {"FAILED", "200", "FAILED\r\n\r\nhttp://127.0.0.1/x\r\n", kLookupServerFailed},
        {"no blank line", "200", "Length=9\r\nx\r\nMD5=0123456789abcdef0123456789abcdef\r\n",
         kLookupNoHeaderEnd},
        {"empty answer", "200", "", kLookupNoHeaderEnd},
        {"error status", "500", "Length=9\r\n\r\nhttp://127.0.0.1/x\r\n", kLookupTransferFailed},
        {"not found", "404", "Length=9\r\n\r\n", kLookupTransferFailed},
        {"no answer at all", "stall", "", kLookupTransferFailed},
        {"answer too long", "200", "Length=9\r\n\r\n" + std::string(kMaxAnswerBytes, 'h'),
         kLookupTransferFailed},
    };
    for (const Row& row : rows) {
        LookupServer s(row.status);
        WriteFile(s.answerPath, row.answer);
        int64_t size = 77;
        std::string md5 = "old";
        std::vector<std::string> sources = {"kept"};
        EXPECT_EQ(QueryFileSources(s.Request(), size, md5, sources), row.code) << row.name;
        EXPECT_EQ(size, 77) << row.name;
        EXPECT_EQ(md5, "old") << row.name;
        EXPECT_EQ(sources, std::vector<std::string>{"kept"}) << row.name;
    }

    LookupRequest nobody;
    nobody.host = "127.0.0.1";
    nobody.port = 1;
    nobody.url = "http://127.0.0.1/f";
    nobody.userId = "u";
    int64_t size = 77;
    std::string md5;
    std::vector<std::string> sources;
    EXPECT_EQ(QueryFileSources(nobody, size, md5, sources), kLookupTransferFailed);
}

// A server that drips its answer defeats the no-data time-out: the request still ends at
// its deadline, or at once when another thread interrupts it, and closes the connection.
TEST(PeerLookup, DrippedAnswerEndsAtTheDeadlineOrAnInterrupt) {
    struct Row {
        std::string name, drip;
        uint32_t deadlineSeconds;
        bool interrupt;
    } rows[] = {
        {"deadline", "drip:0.5", 2, false},
        {"interrupt", "drip:20", 0, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        testing_support::HangGuard guard("lookup with a dripped answer, " + row.name,
                                         std::chrono::seconds(120));
        LookupServer s(row.drip);
        WriteFile(s.answerPath, "Length=9\r\n\r\n" + std::string(200, 'h'));
        LookupRequest r = s.Request();
        r.noDataTimeoutSeconds = 30;
        r.deadlineSeconds = row.deadlineSeconds;
        platform::HttpInterrupt interrupt;
        r.interrupt = &interrupt;
        std::thread interrupter;
        if (row.interrupt) {
            interrupter = std::thread([&] {
                EXPECT_TRUE(WaitUntil([&] { return std::filesystem::exists(s.requestPath); }))
                    << "the request never reached the server";
                interrupt.Interrupt();
            });
        }
        int64_t size = 77;
        std::string md5;
        std::vector<std::string> sources;
        EXPECT_EQ(QueryFileSources(r, size, md5, sources), kLookupTransferFailed);
        if (interrupter.joinable()) interrupter.join();
        EXPECT_EQ(size, 77);
        EXPECT_TRUE(sources.empty());
        // The server sees the connection closed by the request, not left open.
        EXPECT_TRUE(WaitUntil([&] { return std::filesystem::exists(s.requestPath + ".closed"); }));
    }
}

}  // namespace
}  // namespace engine
