// The local block server against real clients on 127.0.0.1: libcurl for well-formed range
// requests, a raw socket for what no library would send.
#include "engine/block_server.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "engine/block_request.h"
#include "platform/http_transfer.h"
#include "platform/tcp_socket.h"
#include "testing/http_reply.h"

namespace {

using testing_support::HttpReply;

constexpr int64_t kLength = 300 * 1024;    // several chunks
constexpr int64_t kHeldUpTo = 200 * 1024;  // bytes past this are not held yet

char ByteAt(int64_t offset) { return static_cast<char>(offset * 7 + 3); }

class BlockServerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        server_.SetLimits(4, 1000);
        ASSERT_TRUE(server_.Start("127.0.0.1"));
        key_ = engine::BlockKey("", "http://127.0.0.1/file.bin");
        server_.Publish(key_, kLength, HeldUpTo(kHeldUpTo), HeldRangeUpTo(kHeldUpTo));
    }

    static engine::HeldReader HeldUpTo(int64_t end) {
        return [end](int64_t offset, size_t size, char* out) {
            if (offset < 0 || offset + static_cast<int64_t>(size) > end) return false;
            for (size_t i = 0; i < size; ++i) out[i] = ByteAt(offset + static_cast<int64_t>(i));
            return true;
        };
    }
    static engine::HeldRanges HeldRangeUpTo(int64_t end) {
        return [end] { return std::vector<engine::transfer::ByteRange>{{0, end}}; };
    }

    HttpReply Get(const std::string& key, const std::string& range) {
        platform::HttpRequest request;
        request.url = "http://127.0.0.1:" + std::to_string(server_.port()) + "/" + key;
        if (!range.empty()) request.extraHeaders.push_back("Range: bytes=" + range);
        HttpReply reply;
        platform::HttpGet(request, reply);
        return reply;
    }

    // Sends `text` as it is and returns everything the server answers before closing.
    std::string Raw(const std::string& text) {
        platform::TcpSocket socket;
        EXPECT_TRUE(socket.Connect("127.0.0.1", server_.port(), 5000));
        EXPECT_TRUE(socket.SendAll(text, 5000));
        return ReadAll(socket);
    }
    static std::string ReadAll(platform::TcpSocket& socket) {
        std::string answer;
        char piece[4096];
        size_t got = 0;
        while (socket.Receive(piece, sizeof piece, 5000, got) && got > 0) answer.append(piece, got);
        return answer;
    }

    engine::BlockServer server_;
    std::string key_;
};

std::string Expected(int64_t first, int64_t size) {
    std::string bytes;
    for (int64_t i = 0; i < size; ++i) bytes += ByteAt(first + i);
    return bytes;
}

TEST_F(BlockServerTest, ServesHeldRangesAndRefusesTheRest) {
    struct Case {
        const char* what;
        bool knownKey;
        std::string range;
        long status;
        int64_t first, size;  // expected body
    } cases[] = {
        {"held range", true, "100-70099", 206, 100, 70000},
        // A range that runs past the held part gets the held bytes from its start on.
        {"open range within held", true, "204700-", 206, 204700, 100},
        {"range partly held", true, "200000-210000", 206, 200000, 4800},
        {"range starting past the held part", true, "204800-210000", 416, 0, 0},
        {"range past the end", true, "400000-400010", 416, 0, 0},
        {"suffix not held", true, "-100", 416, 0, 0},
        {"end clipped to the file", true, "0-99", 206, 0, 100},
        {"unknown key", false, "0-9", 404, 0, 0},
    };
    for (const Case& c : cases) {
        const HttpReply reply = Get(c.knownKey ? key_ : std::string(32, 'a'), c.range);
        EXPECT_EQ(reply.status, c.status) << c.what;
        EXPECT_EQ(reply.body, Expected(c.first, c.size)) << c.what;
    }
}

TEST_F(BlockServerTest, AWholeFileIsServedOnlyWhenEveryByteIsHeld) {
    EXPECT_EQ(Get(key_, "").status, 416);
    const std::string small = engine::BlockKey("0123456789ABCDEF0123456789ABCDEF", "");
    EXPECT_EQ(small, "0123456789abcdef0123456789abcdef");
    server_.Publish(small, 5, HeldUpTo(5), HeldRangeUpTo(5));
    const HttpReply reply = Get(small, "");
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(reply.body, Expected(0, 5));
    server_.Withdraw(small);
    EXPECT_EQ(Get(small, "").status, 404);
}

TEST_F(BlockServerTest, MalformedRequestsGet400) {
    const std::string path = "/" + key_;
    const std::string cases[] = {
        "POST " + path + " HTTP/1.1\r\n\r\n",
        "GET " + path + " HTTP/2\r\n\r\n",
        "GET ../etc/passwd HTTP/1.1\r\n\r\n",
        "GET /../" + key_ + " HTTP/1.1\r\n\r\n",
        "GET " + path + " HTTP/1.1\r\nRange: bytes=5-1\r\n\r\n",
        "GET " + path + " HTTP/1.1\r\nRange: bytes=0-1,4-5\r\n\r\n",
        "GET " + path + " HTTP/1.1\r\nRange: items=0-1\r\n\r\n",
        "GET " + path + " HTTP/1.1\r\nRange: bytes=99999999999999999999-\r\n\r\n",
        "GET " + path + " HTTP/1.1\r\nRange: bytes=0-1\r\nRange: bytes=0-1\r\n\r\n",
        "GET " + path + " HTTP/1.1\r\nno colon here\r\n\r\n",
        "GET " + path + " HTTP/1.1\r\nX: " + std::string(9000, 'x') + "\r\n\r\n",
    };
    for (const std::string& request : cases) {
        const std::string answer = Raw(request);
        EXPECT_EQ(answer.substr(0, 12), "HTTP/1.1 400") << request.substr(0, 60);
    }
    // HEAD answers the head of a GET without its body.
    const std::string head = Raw("HEAD " + path + " HTTP/1.1\r\nRange: bytes=0-9\r\n\r\n");
    EXPECT_EQ(head.substr(0, 12), "HTTP/1.1 206");
    EXPECT_NE(head.find("Content-Length: 10\r\n"), std::string::npos);
    EXPECT_EQ(head.substr(head.size() - 4), "\r\n\r\n");
}

TEST_F(BlockServerTest, SilentClientsTimeOutAndFreeTheirSlots) {
    // Fill every slot with clients that never send a request.
    std::vector<platform::TcpSocket> silent(4);
    for (auto& socket : silent) ASSERT_TRUE(socket.Connect("127.0.0.1", server_.port(), 5000));
    for (auto& socket : silent) EXPECT_EQ(ReadAll(socket), "");  // closed by the server
    EXPECT_EQ(Get(key_, "0-9").status, 206);
}

TEST_F(BlockServerTest, AClientDribblingItsRequestIsCutOff) {
    // A byte now and then, each well within the read time-out: only a limit on the whole
    // head ends this. The client gives up after 100 bytes (10 times the server's limit).
    platform::TcpSocket socket;
    ASSERT_TRUE(socket.Connect("127.0.0.1", server_.port(), 5000));
    bool closed = false;
    for (int i = 0; i < 100 && !closed; ++i) {
        (void)socket.SendAll("G", 5000);
        char byte;
        size_t got = 0;
        closed = socket.Receive(&byte, 1, 100, got).ok() && got == 0;
    }
    EXPECT_TRUE(closed);
}

TEST_F(BlockServerTest, AClientReadingSlowlyIsCutOffAtTheAnswersDeadline) {
    // Every write finishes well within the time-out, but the answer (16 MiB at about
    // 640 KiB/s) would take 25 s: its deadline ends it after 1 s (what the sockets' buffers
    // held still arrives).
    engine::BlockServer server;
    server.SetLimits(2, 10000, 1000);
    ASSERT_TRUE(server.Start("127.0.0.1"));
    constexpr int64_t kBig = 64 << 20;
    server.Publish(key_, kBig, HeldUpTo(kBig), HeldRangeUpTo(kBig));
    platform::TcpSocket socket;
    ASSERT_TRUE(socket.Connect("127.0.0.1", server.port(), 5000));
    ASSERT_TRUE(socket.SendAll("GET /" + key_ + " HTTP/1.1\r\nRange: bytes=0-\r\n\r\n", 5000));
    int64_t received = 0;
    bool closed = false;
    // The limit is only a safety net: a server without a deadline sends for minutes.
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!closed && std::chrono::steady_clock::now() < giveUp) {
        std::string piece(64 * 1024, '\0');
        size_t got = 0;
        closed = !socket.Receive(piece.data(), piece.size(), 5000, got) || got == 0;
        received += static_cast<int64_t>(got);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    EXPECT_TRUE(closed);
    EXPECT_LT(received, 16 << 20);
}

TEST_F(BlockServerTest, ManyClientsAtOnceGetWholeAnswersOrABusyReply) {
    std::vector<std::thread> clients;
    std::vector<long> statuses(12);
    std::vector<std::string> bodies(12);
    for (size_t i = 0; i < statuses.size(); ++i) {
        clients.emplace_back([&, i] {
            const HttpReply reply = Get(key_, "0-65535");
            statuses[i] = reply.status;
            bodies[i] = reply.body;
        });
    }
    for (auto& client : clients) client.join();
    int served = 0;
    for (size_t i = 0; i < statuses.size(); ++i) {
        if (statuses[i] == 206) {
            ++served;
            EXPECT_EQ(bodies[i], Expected(0, 65536));
        } else {
            EXPECT_EQ(statuses[i], 503);
        }
    }
    EXPECT_GE(served, 1);
}

TEST_F(BlockServerTest, HeldMapNamesTheCheckedBytes) {
    const HttpReply map = Get(key_ + "?held", "");
    EXPECT_EQ(map.status, 200);
    EXPECT_EQ(map.body, "QGHELD 307200 1\r\n0-204799\r\n");
    EXPECT_EQ(server_.Held(key_), (std::vector<engine::transfer::ByteRange>{{0, kHeldUpTo}}));
    EXPECT_EQ(Get(std::string(32, 'a') + "?held", "").status, 404);
    EXPECT_FALSE(server_.Held(std::string(32, 'a')));
    const std::string head = Raw("HEAD /" + key_ + "?held HTTP/1.1\r\n\r\n");
    EXPECT_EQ(head.substr(0, 12), "HTTP/1.1 200");
    EXPECT_EQ(head.substr(head.size() - 4), "\r\n\r\n");
    server_.Withdraw(key_);
    EXPECT_EQ(Get(key_ + "?held", "").status, 404);
}

// One upload at a time, slowed by the rate: a second range waits for its turn (503), while
// the held map is still answered.
TEST_F(BlockServerTest, UploadsBeyondTheLimitAreBusyButTheHeldMapIsAnswered) {
    server_.SetUploadLimit(50000, 1);
    platform::TcpSocket slow;
    ASSERT_TRUE(slow.Connect("127.0.0.1", server_.port(), 5000));
    ASSERT_TRUE(slow.SendAll("GET /" + key_ + " HTTP/1.1\r\nRange: bytes=0-199999\r\n\r\n", 5000));
    // Its head has come: it holds the one upload for seconds.
    std::string answer;
    char piece[4096];
    size_t got = 0;
    while (answer.find("\r\n\r\n") == std::string::npos &&
           slow.Receive(piece, sizeof piece, 5000, got) && got > 0) {
        answer.append(piece, got);
    }
    EXPECT_EQ(answer.substr(0, 12), "HTTP/1.1 206");
    EXPECT_EQ(Get(key_, "0-9").status, 503);
    EXPECT_EQ(Get(key_ + "?held", "").status, 200);
    answer += ReadAll(slow);
    EXPECT_EQ(answer.substr(answer.find("\r\n\r\n") + 4), Expected(0, 200000));
    EXPECT_EQ(Get(key_, "0-9").status, 206);
}

TEST(BlockServerLifecycle, StopsAndReportsNoPort) {
    engine::BlockServer server;
    EXPECT_EQ(server.port(), 0);
    EXPECT_FALSE(server.Start("not an address"));
    ASSERT_TRUE(server.Start("127.0.0.1"));
    EXPECT_NE(server.port(), 0);
    server.Stop();
    EXPECT_EQ(server.port(), 0);
}

}  // namespace
