// qg-lookup as a process: the answer form byte for byte and as the engine reads it;
// announcements, refreshes, expiry and withdrawals; the asker never listed; caps;
// hostile requests and connections; two services on one real redis-server.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <memory>
#include <set>
#include <thread>

#include "engine/peer_lookup.h"
#include "engine/source_line.h"
#include "testing/program_server.h"
#include "testing/temp_dir.h"

namespace {

using testing_support::ProgramServer;
using testing_support::ReadFile;
using testing_support::RedisServer;
using testing_support::TempDir;
using namespace std::chrono_literals;

const std::string kMd5 = "0123456789abcdef0123456789abcdef";
const std::string kMd5Upper = "0123456789ABCDEF0123456789ABCDEF";
const std::string kUrl = "http://origin.example/patch/p1.pak";

// One TCP connection from a chosen loopback address, as hostile as a test needs it.
class Connection {
  public:
    Connection(int port, const char* source = "127.0.0.1") {
        fd_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in from{};
        from.sin_family = AF_INET;
        inet_pton(AF_INET, source, &from.sin_addr);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(static_cast<uint16_t>(port));
        inet_pton(AF_INET, "127.0.0.1", &to.sin_addr);
        if (bind(fd_, reinterpret_cast<sockaddr*>(&from), sizeof from) != 0 ||
            connect(fd_, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
            close(fd_);
            fd_ = -1;
        }
    }
    ~Connection() {
        if (fd_ >= 0) close(fd_);
    }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    bool Send(const std::string& data) {
        return fd_ >= 0 && send(fd_, data.data(), data.size(), MSG_NOSIGNAL) ==
                               static_cast<ssize_t>(data.size());
    }
    // Reads until the server closes the connection or nothing comes for `quiet`; true
    // when it closed.
    bool Read(std::string& out, std::chrono::milliseconds quiet = 10s) {
        pollfd p{fd_, POLLIN, 0};
        char buffer[65536];
        while (fd_ >= 0 && poll(&p, 1, static_cast<int>(quiet.count())) == 1) {
            const ssize_t n = recv(fd_, buffer, sizeof buffer, 0);
            if (n <= 0) return true;
            out.append(buffer, static_cast<size_t>(n));
        }
        return false;
    }

  private:
    int fd_ = -1;
};

struct Reply {
    int status = 0;
    std::string body;
};

Reply Exchange(int port, const std::string& request, const char* source = "127.0.0.1") {
    Connection c(port, source);
    std::string text;
    if (!c.Send(request) || !c.Read(text)) return {};
    const size_t split = text.find("\r\n\r\n");
    if (text.compare(0, 9, "HTTP/1.1 ") != 0 && text.compare(0, 9, "HTTP/1.0 ") != 0) return {};
    return {std::atoi(text.c_str() + 9), split == text.npos ? "" : text.substr(split + 4)};
}

std::string PostRequest(const std::string& path, const std::string& body,
                        const std::string& headers = "") {
    return "POST " + path + " HTTP/1.0\r\nHost: lookup\r\n" +
           "Content-Type: application/x-www-form-urlencoded\r\n" + headers +
           "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

Reply Post(int port, const std::string& path, const std::string& body,
           const std::string& headers = "", const char* source = "127.0.0.1") {
    return Exchange(port, PostRequest(path, body, headers), source);
}

std::string AnnounceBody(int port, const std::string& extra = "", const std::string& key = kMd5) {
    return "key=" + key + "&port=" + std::to_string(port) + "&length=1000&held=500&md5=" + kMd5 +
           "&url=" + engine::FormEscape(kUrl) + extra;
}

// The peers of an answer as "ADDRESS:PORT", and the count of its mirror lines.
std::set<std::string> Peers(const std::string& answer, size_t* mirrors = nullptr) {
    int64_t size = -1;
    std::string md5;
    std::vector<std::string> lines;
    std::set<std::string> peers;
    if (engine::ParseLookupAnswer(answer, size, md5, lines) != engine::kLookupOk) return peers;
    if (mirrors) *mirrors = 0;
    for (const std::string& line : lines) {
        engine::SourceLine source;
        EXPECT_TRUE(engine::ParseSourceLine(line, source)) << line;
        if (source.Field("kind") != "peer") {
            if (mirrors) ++*mirrors;
            continue;
        }
        const std::string hostPort = source.url.substr(7, source.url.rfind('/') - 7);
        peers.insert(hostPort);
    }
    return peers;
}

class QgLookupTest : public ::testing::Test {
  protected:
    std::unique_ptr<ProgramServer> Start(std::vector<std::string> args) {
        args.insert(args.begin(), {"--listen", "127.0.0.1:0"});
        return std::make_unique<ProgramServer>(QG_LOOKUP_BINARY, args, log_);
    }
    std::string WriteMirrors(const std::string& text) {
        const std::string path = dir_ / "mirrors.txt";
        std::ofstream(path) << text;
        return path;
    }
    TempDir dir_{"qg_lookup"};
    const std::string log_ = dir_ / "stderr.log";
};

TEST_F(QgLookupTest, AnswerFormByteForByteAndAsTheEngineReadsIt) {
    const std::string mirrors =
        WriteMirrors("# the operator's copies\nmd5=" + kMd5Upper + " length=1000 url=" + kUrl +
                     " url=ftp://mirror.example/p1.pak\n");
    auto lookup = Start({"--mirrors", mirrors});
    const int port = lookup->port();
    ASSERT_EQ(Post(port, "/announce", AnnounceBody(7001)).body, "OK ttl=300\r\n");

    // Asked by the URL the engine has, the other mirror and the peer are listed.
    const std::string expected = "Length=1000\r\nSources=2\r\nMD5=" + kMd5Upper +
                                 "\r\n\r\nftp://mirror.example/p1.pak\r\nhttp://127.0.0.1:7001/" +
                                 kMd5 + "\tkind=peer\r\n";
    const std::string query = "url=" + engine::FormEscape(kUrl) + "&uid=u1&pc=10&mc=10";
    const Reply asked = Post(port, "/getfipl.php", query);
    EXPECT_EQ(asked.status, 200);
    EXPECT_EQ(asked.body, expected);
    // The engine's own request and parser against the real service.
    engine::LookupRequest request;
    request.host = "127.0.0.1";
    request.port = static_cast<uint16_t>(port);
    request.url = kUrl;
    request.userId = "u1";
    request.pc = 10;
    request.mc = 10;
    int64_t size = -1;
    std::string md5;
    std::vector<std::string> sources;
    ASSERT_EQ(engine::QueryFileSources(request, size, md5, sources), engine::kLookupOk);
    EXPECT_EQ(size, 1000);
    EXPECT_EQ(md5, kMd5Upper);
    ASSERT_EQ(sources.size(), 2u);
    engine::SourceLine peer;
    ASSERT_TRUE(engine::ParseSourceLine(sources[1], peer));
    EXPECT_EQ(peer.url, "http://127.0.0.1:7001/" + kMd5);
    EXPECT_EQ(peer.Field("kind"), "peer");

    // By digest, both mirrors (in either order); the asker itself is left out.
    size_t mirrorCount = 0;
    const Reply byMd5 = Post(port, "/getfipl.php", "md5=" + kMd5 + "&uid=u&pc=0&mc=0&port=7001");
    EXPECT_TRUE(Peers(byMd5.body, &mirrorCount).empty());
    EXPECT_EQ(mirrorCount, 2u);
    EXPECT_EQ(byMd5.body.substr(0, byMd5.body.find("\r\n\r\n")),
              "Length=1000\r\nSources=2\r\nMD5=" + kMd5Upper);

    // A file nobody knows: "FAILED", which the engine reads as "nothing" (code 4).
    const Reply unknown = Post(port, "/getfipl.php", "url=http%3A%2F%2Fx%2Fy&uid=u&pc=1&mc=1");
    EXPECT_EQ(unknown.status, 200);
    EXPECT_EQ(unknown.body, "FAILED\r\n");
    request.url = "http://x/y";
    EXPECT_EQ(engine::QueryFileSources(request, size, md5, sources), engine::kLookupServerFailed);

    // Known from announcements only, without a digest: "MD5=" is left empty, which the
    // engine reads as no digest; the asker alone holds it, so no source.
    ASSERT_EQ(
        Post(port, "/announce",
             "key=" + std::string(32, 'e') + "&port=7002&length=77&held=7&url=http%3A%2F%2Fx%2Fz")
            .status,
        200);
    const Reply alone =
        Post(port, "/getfipl.php", "url=http%3A%2F%2Fx%2Fz&uid=u&pc=1&mc=1&port=7002");
    EXPECT_EQ(alone.body, "Length=77\r\nSources=0\r\nMD5=\r\n\r\n");
    md5 = "kept";
    sources.clear();
    EXPECT_EQ(engine::ParseLookupAnswer(alone.body, size, md5, sources), engine::kLookupOk);
    EXPECT_EQ(size, 77);
    EXPECT_EQ(md5, "kept");
    EXPECT_TRUE(sources.empty());

    // Every request left a line in the log.
    EXPECT_EQ(lookup->Stop(), 0);
    const std::string log = ReadFile(log_);
    EXPECT_NE(log.find("127.0.0.1 \"POST /announce\" 200"), std::string::npos) << log;
    EXPECT_NE(log.find("\"POST /getfipl.php\" 200"), std::string::npos) << log;
}

TEST_F(QgLookupTest, AnnounceRefreshExpireWithdraw) {
    auto lookup = Start({"--ttl", "3"});
    const int port = lookup->port();
    const std::string ask = "md5=" + kMd5 + "&uid=u&pc=0&mc=0";
    ASSERT_EQ(Post(port, "/announce", AnnounceBody(7001)).body, "OK ttl=3\r\n");
    ASSERT_EQ(Post(port, "/announce", AnnounceBody(7002)).status, 200);
    ASSERT_EQ(Post(port, "/announce", AnnounceBody(7003)).status, 200);
    EXPECT_EQ(Peers(Post(port, "/getfipl.php", ask).body),
              (std::set<std::string>{"127.0.0.1:7001", "127.0.0.1:7002", "127.0.0.1:7003"}));

    // Withdrawn by key, and everything at a port.
    EXPECT_EQ(Post(port, "/withdraw", "port=7002&key=" + kMd5).body, "OK\r\n");
    EXPECT_EQ(Post(port, "/withdraw", "port=7003").body, "OK\r\n");
    EXPECT_EQ(Peers(Post(port, "/getfipl.php", ask).body),
              (std::set<std::string>{"127.0.0.1:7001"}));

    // A refresh renews the time to live; the other one expires.
    ASSERT_EQ(Post(port, "/announce", AnnounceBody(7002)).status, 200);
    std::this_thread::sleep_for(1500ms);
    ASSERT_EQ(Post(port, "/announce", AnnounceBody(7001)).status, 200);
    std::this_thread::sleep_for(2000ms);
    EXPECT_EQ(Peers(Post(port, "/getfipl.php", ask).body),
              (std::set<std::string>{"127.0.0.1:7001"}));
    std::this_thread::sleep_for(1500ms);
    EXPECT_EQ(Post(port, "/getfipl.php", ask).body, "FAILED\r\n");
}

TEST_F(QgLookupTest, MirrorsAreReadAgainOnHangup) {
    const std::string line = "md5=" + kMd5 + " length=1000 url=" + kUrl;
    const std::string mirrors = WriteMirrors(line + "\n");
    auto lookup = Start({"--mirrors", mirrors});
    const std::string ask = "md5=" + kMd5 + "&uid=u&pc=0&mc=0";
    const auto mirrorLines = [&] {
        size_t count = 0;
        Peers(Post(lookup->port(), "/getfipl.php", ask).body, &count);
        return count;
    };
    ASSERT_EQ(mirrorLines(), 1u);
    WriteMirrors(line + " url=ftp://m1.example/p1.pak url=ftp://m2.example/p1.pak\n");
    ASSERT_EQ(kill(lookup->pid(), SIGHUP), 0);
    for (int i = 0; i < 100 && mirrorLines() != 3; ++i) std::this_thread::sleep_for(50ms);
    EXPECT_EQ(mirrorLines(), 3u);
    // A file that does not read leaves the list as it was.
    WriteMirrors("length=oops\n");
    ASSERT_EQ(kill(lookup->pid(), SIGHUP), 0);
    for (int i = 0; i < 100 && ReadFile(log_).find("kept the mirrors") == std::string::npos; ++i) {
        std::this_thread::sleep_for(50ms);
    }
    EXPECT_NE(ReadFile(log_).find("kept the mirrors as they were: " + mirrors + ": line 1"),
              std::string::npos);
    EXPECT_EQ(mirrorLines(), 3u);
}

TEST_F(QgLookupTest, EnginesOnOneMachineSeeEachOtherButNeverThemselves) {
    auto lookup = Start({});
    const int port = lookup->port();
    for (int p : {7001, 7002, 7003})
        ASSERT_EQ(Post(port, "/announce", AnnounceBody(p)).status, 200);
    const std::string ask = "url=" + engine::FormEscape(kUrl) + "&uid=u&pc=0&mc=0";
    EXPECT_EQ(Peers(Post(port, "/getfipl.php", ask + "&port=7001").body),
              (std::set<std::string>{"127.0.0.1:7002", "127.0.0.1:7003"}));
    EXPECT_EQ(Peers(Post(port, "/getfipl.php", ask + "&port=7003").body),
              (std::set<std::string>{"127.0.0.1:7001", "127.0.0.1:7002"}));
    // From another address the same port is another engine; without a port nobody can
    // be told apart, and all are listed.
    EXPECT_EQ(Peers(Post(port, "/getfipl.php", ask + "&port=7001", "", "127.0.0.2").body).size(),
              3u);
    EXPECT_EQ(Peers(Post(port, "/getfipl.php", ask).body).size(), 3u);
    // An engine that holds nothing yet is not listed.
    ASSERT_EQ(
        Post(port, "/announce", "key=" + kMd5 + "&port=7004&length=1000&held=0&md5=" + kMd5).status,
        200);
    EXPECT_EQ(Peers(Post(port, "/getfipl.php", ask).body).count("127.0.0.1:7004"), 0u);
}

TEST_F(QgLookupTest, AddressesComeFromTheConnectionOrATrustedProxy) {
    auto direct = Start({});
    const std::string forwarded = "X-Forwarded-For: 127.0.0.7, 127.0.0.8\r\n";
    const std::string ask = "md5=" + kMd5 + "&uid=u&pc=0&mc=0";
    ASSERT_EQ(Post(direct->port(), "/announce", AnnounceBody(7001), forwarded).status, 200);
    EXPECT_EQ(Peers(Post(direct->port(), "/getfipl.php", ask).body),
              (std::set<std::string>{"127.0.0.1:7001"}));

    auto behindProxy = Start({"--trusted-proxy", "127.0.0.1"});
    const int port = behindProxy->port();
    ASSERT_EQ(Post(port, "/announce", AnnounceBody(7001), forwarded).status, 200);
    // Only the trusted address may name another; the proxy's own requests name nobody.
    ASSERT_EQ(Post(port, "/announce", AnnounceBody(7002), forwarded, "127.0.0.3").status, 200);
    ASSERT_EQ(Post(port, "/announce", AnnounceBody(7003)).status, 200);
    EXPECT_EQ(Peers(Post(port, "/getfipl.php", ask).body),
              (std::set<std::string>{"127.0.0.7:7001", "127.0.0.3:7002", "127.0.0.1:7003"}));
    // The asker behind the proxy is told apart by its forwarded address.
    EXPECT_EQ(Peers(Post(port, "/getfipl.php", ask + "&port=7001", forwarded).body)
                  .count("127.0.0.7:7001"),
              0u);
    for (const char* bad : {"X-Forwarded-For: unknown\r\n", "X-Forwarded-For: \r\n",
                            "X-Forwarded-For: 127.0.0.7:80\r\n"}) {
        EXPECT_EQ(Post(port, "/announce", AnnounceBody(7004), bad).status, 400) << bad;
    }
}

TEST_F(QgLookupTest, CapsOnPeersPerAnswerAnnouncementsPerAddressAndBodies) {
    auto lookup = Start({"--trusted-proxy", "127.0.0.1"});
    const int port = lookup->port();
    const std::string from9 = "X-Forwarded-For: 127.0.0.9\r\n";
    for (int p = 1; p <= 256; ++p) {
        ASSERT_EQ(Post(port, "/announce", AnnounceBody(10000 + p), from9).status, 200) << p;
    }
    EXPECT_EQ(Post(port, "/announce", AnnounceBody(20000), from9).status, 429);
    EXPECT_EQ(Post(port, "/announce", AnnounceBody(10001), from9).status, 200);  // a refresh
    EXPECT_EQ(
        Post(port, "/announce", AnnounceBody(20000), "X-Forwarded-For: 127.0.0.10\r\n").status,
        200);

    const std::string ask = "md5=" + kMd5 + "&uid=u&mc=0&pc=";
    EXPECT_EQ(Peers(Post(port, "/getfipl.php", ask + "0").body).size(), 20u);  // the default
    EXPECT_EQ(Peers(Post(port, "/getfipl.php", ask + "7").body).size(), 7u);
    EXPECT_EQ(Peers(Post(port, "/getfipl.php", ask + "100000").body).size(), 50u);  // the cap
    // Shuffled: a few answers name more engines than one.
    std::set<std::string> seen;
    for (int i = 0; i < 5; ++i) {
        const std::set<std::string> peers = Peers(Post(port, "/getfipl.php", ask + "7").body);
        seen.insert(peers.begin(), peers.end());
    }
    EXPECT_GT(seen.size(), 7u);

    // Bodies: 4096 bytes are read, more are refused, whether declared or sent in chunks.
    const std::string padded = "md5=" + kMd5 + "&uid=" + std::string(4096 - 45, 'u');
    ASSERT_EQ(padded.size(), 4096u - 4);
    EXPECT_EQ(Post(port, "/getfipl.php", padded + "&x=1").status, 200);
    EXPECT_EQ(Post(port, "/getfipl.php", padded + "&x=12").status, 413);
    EXPECT_EQ(Exchange(port, "POST /announce HTTP/1.0\r\nContent-Length: 1000000000000\r\n\r\nkey=")
                  .status,
              413);
    std::string chunked =
        "POST /announce HTTP/1.1\r\nHost: l\r\nTransfer-Encoding: chunked\r\n"
        "Connection: close\r\n\r\n";
    for (int i = 0; i < 10; ++i) chunked += "400\r\n" + std::string(1024, 'a') + "\r\n";
    EXPECT_EQ(Exchange(port, chunked + "0\r\n\r\n").status, 413);
    // One that goes on and on is cut off.
    Connection endless(port);
    ASSERT_TRUE(endless.Send(chunked));
    std::string got;
    for (int i = 0; i < 1000 && endless.Send("400\r\n" + std::string(1024, 'a') + "\r\n"); ++i) {
    }
    EXPECT_TRUE(endless.Read(got));
    EXPECT_EQ(got.find("200"), std::string::npos);
    EXPECT_EQ(Post(port, "/announce", AnnounceBody(20001)).status, 200);
}

TEST_F(QgLookupTest, MalformedAndHostileRequestsAreRefusedWithoutHarm) {
    auto lookup = Start({});
    const int port = lookup->port();
    const struct {
        const char* what;
        std::string request;
        int status;
        const char* reason;  // the body's line, "" when not checked
    } cases[] = {
        {"bad percent-encoding", PostRequest("/getfipl.php", "url=%zz&uid=1"), 400,
         "bad percent-encoding in url\r\n"},
        {"cut percent-encoding", PostRequest("/getfipl.php", "md5=%4"), 400, ""},
        {"nothing to find", PostRequest("/getfipl.php", "uid=1&pc=1&mc=1"), 400,
         "neither url nor md5\r\n"},
        {"a negative count", PostRequest("/getfipl.php", "md5=" + kMd5 + "&pc=-1"), 400, ""},
        {"a field twice", PostRequest("/getfipl.php", "url=a&url=b"), 400, "url given twice\r\n"},
        {"an upper-case key", PostRequest("/announce", AnnounceBody(1, "", std::string(32, 'A'))),
         400, "key is not 32 lower-case hexadecimal digits\r\n"},
        {"port 0", PostRequest("/announce", AnnounceBody(0)), 400, "port is not 1 to 65535\r\n"},
        {"held beyond the length",
         PostRequest("/announce", "key=" + kMd5 + "&port=1&length=5&held=6&md5=" + kMd5), 400, ""},
        {"an address as a field changes nothing",
         PostRequest("/announce", AnnounceBody(1, "&address=10.9.9.9")), 200, "OK ttl=300\r\n"},
        {"withdraw without a port", PostRequest("/withdraw", "key=" + kMd5), 400, ""},
        {"GET of a POST page", "GET /getfipl.php HTTP/1.0\r\n\r\n", 405, "use POST\r\n"},
        {"POST of the status", PostRequest("/status", ""), 405, "use GET\r\n"},
        {"no such page", PostRequest("/getfipl", "md5=" + kMd5), 404, ""},
        {"a control byte in a URL", PostRequest("/getfipl.php", "url=http%3A%2F%2Fa%0D%0AX"), 400,
         "url is not a plain URL\r\n"},
        {"not HTTP: closed without an answer", "HELLO\r\n\r\n", 0, ""},
        {"a head of 64 KiB",
         "POST /announce HTTP/1.0\r\nX-Pad: " + std::string(65536, 'p') + "\r\n\r\n", 431, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Reply r = Exchange(port, c.request);
        EXPECT_EQ(r.status, c.status);
        if (*c.reason) {
            EXPECT_EQ(r.body, c.reason);
        }
    }
    const Reply status = Exchange(port, "GET /status HTTP/1.0\r\n\r\n");
    EXPECT_EQ(status.status, 200);
    EXPECT_NE(status.body.find("\"peers_known\":1,"), std::string::npos) << status.body;
    EXPECT_NE(status.body.find("\"store\":\"memory\""), std::string::npos) << status.body;
}

TEST_F(QgLookupTest, SlowClientsAndManyConnectionsDoNotStopTheService) {
    auto lookup = Start({"--client-timeout", "1"});
    const int port = lookup->port();
    const std::string ask = PostRequest("/getfipl.php", "md5=" + kMd5 + "&uid=u");
    // A client that sends half a request and waits is closed after the time-out; others
    // are served meanwhile.
    Connection slow(port);
    ASSERT_TRUE(slow.Send("POST /announce HTTP/1.1\r\nHost: l\r\nContent-Length: 100\r\n\r\nkey="));
    Connection dribbling(port);
    ASSERT_TRUE(dribbling.Send("POST /announce HTTP/1.1\r\nHo"));
    EXPECT_EQ(Exchange(port, ask).status, 200);
    std::string ignored;
    EXPECT_TRUE(slow.Read(ignored, 10s));
    EXPECT_TRUE(dribbling.Read(ignored, 10s));

    // Connections from one address beyond its limit are closed at once; another address
    // is still served, and so is the first once its connections are gone.
    std::vector<std::unique_ptr<Connection>> crowd;
    for (int i = 0; i < 100; ++i) crowd.push_back(std::make_unique<Connection>(port, "127.0.0.5"));
    int refused = 0;
    for (auto& c : crowd) {
        std::string got;
        if (c->Read(got, 200ms)) ++refused;
    }
    EXPECT_GE(refused, 30);
    EXPECT_EQ(Exchange(port, ask, "127.0.0.6").status, 200);
    crowd.clear();
    Reply again;
    for (int i = 0; i < 50 && again.status != 200; ++i) {
        again = Exchange(port, ask, "127.0.0.5");
        if (again.status != 200) std::this_thread::sleep_for(100ms);
    }
    EXPECT_EQ(again.status, 200);
    EXPECT_EQ(lookup->Stop(), 0);
}

TEST_F(QgLookupTest, TwoServicesOnOneRedisAnswerAlike) {
    RedisServer redis;
    const std::string mirrors = WriteMirrors("md5=" + kMd5 + " length=1000 url=" + kUrl + "\n");
    auto first = Start({"--store", redis.url(), "--mirrors", mirrors});
    auto second = Start({"--store", redis.url(), "--mirrors", mirrors});
    ASSERT_EQ(Post(first->port(), "/announce", AnnounceBody(7001)).status, 200);
    ASSERT_EQ(Post(second->port(), "/announce", AnnounceBody(7002)).status, 200);
    const std::string ask = "md5=" + kMd5 + "&uid=u&pc=0&mc=0";
    const std::set<std::string> both = {"127.0.0.1:7001", "127.0.0.1:7002"};
    const Reply fromFirst = Post(first->port(), "/getfipl.php", ask);
    const Reply fromSecond = Post(second->port(), "/getfipl.php", ask);
    EXPECT_EQ(Peers(fromFirst.body), both);
    EXPECT_EQ(Peers(fromSecond.body), both);
    EXPECT_EQ(fromFirst.body.substr(0, fromFirst.body.find("\r\n\r\n")),
              fromSecond.body.substr(0, fromSecond.body.find("\r\n\r\n")));
    ASSERT_EQ(Post(second->port(), "/withdraw", "port=7001").status, 200);
    EXPECT_EQ(Peers(Post(first->port(), "/getfipl.php", ask + "&port=7002").body).size(), 0u);
    for (const auto* service : {first.get(), second.get()}) {
        const std::string status = Exchange(service->port(), "GET /status HTTP/1.0\r\n\r\n").body;
        EXPECT_NE(status.find("\"peers_known\":1,\"files_known\":1,"), std::string::npos) << status;
        EXPECT_NE(status.find("\"store\":\"redis\""), std::string::npos) << status;
    }

    // Redis gone: 503 at once, no crash, no hang; back once it is.
    redis.Stop();
    EXPECT_EQ(Post(first->port(), "/announce", AnnounceBody(7003)).status, 503);
    EXPECT_EQ(Post(first->port(), "/getfipl.php", ask).status, 503);
    EXPECT_NE(Exchange(first->port(), "GET /status HTTP/1.0\r\n\r\n")
                  .body.find("\"store_available\":false"),
              std::string::npos);
    ASSERT_TRUE(redis.Restart());
    Reply back;
    for (int i = 0; i < 50 && back.status != 200; ++i) {
        std::this_thread::sleep_for(100ms);
        back = Post(first->port(), "/announce", AnnounceBody(7003));
    }
    EXPECT_EQ(back.status, 200);
    EXPECT_EQ(Peers(Post(second->port(), "/getfipl.php", ask).body),
              (std::set<std::string>{"127.0.0.1:7003"}));
    EXPECT_EQ(first->Stop(), 0);
    EXPECT_EQ(second->Stop(), 0);
}

TEST_F(QgLookupTest, CommandLine) {
    const struct {
        std::vector<std::string> args;
        int exit;
    } cases[] = {
        {{"--help"}, 0},
        {{"--version"}, 0},
        {{}, 2},
        {{"--listen", "localhost:80"}, 2},
        {{"--listen", "127.0.0.1:0", "--ttl", "0"}, 2},
        {{"--listen", "127.0.0.1:0", "--store", "redis://h"}, 2},
        {{"--listen", "127.0.0.1:0", "--trusted-proxy", "proxy"}, 2},
        {{"--listen", "127.0.0.1:0", "--fast", "1"}, 2},
        {{"--listen", "127.0.0.1:0", "--mirrors", dir_ / "missing.txt"}, 1},
        {{"--listen", "127.0.0.1:0", "--mirrors", WriteMirrors("length=1\n")}, 1},
    };
    for (const auto& c : cases) {
        std::string command = std::string(QG_LOOKUP_BINARY);
        for (const std::string& a : c.args) command += " '" + a + "'";
        const int status = std::system((command + " >/dev/null 2>&1").c_str());
        EXPECT_EQ(WEXITSTATUS(status), c.exit) << command;
    }
}

}  // namespace
