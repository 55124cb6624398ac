// The memory store and the Redis store (a real redis-server on 127.0.0.1) through one
// table: what each call answers after the calls before it.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <memory>
#include <set>
#include <thread>

#include "lookup/memory_store.h"
#include "lookup/redis_store.h"
#include "testing/hang_guard.h"
#include "testing/program_server.h"

namespace {

using lookup::Announcement;
using lookup::AnnouncementStore;
using lookup::StoreStatus;
using namespace std::chrono_literals;

const std::string kMd5A(32, 'a'), kMd5B(32, 'b'), kKey1(32, '1'), kKey2(32, '2');

Announcement Make(const std::string& address, uint16_t port, const std::string& key,
                  const std::string& md5, const std::string& url, int64_t held) {
    Announcement a;
    a.address = address;
    a.port = port;
    a.key = key;
    a.md5 = md5;
    a.url = url;
    a.length = 100;
    a.held = held;
    a.complete = held == 100;
    return a;
}

// "ADDRESS:PORT/KEY" of each, in order.
std::string Names(std::vector<Announcement> found) {
    std::vector<std::string> names;
    for (const Announcement& a : found) {
        names.push_back(a.address + ":" + std::to_string(a.port) + "/" + a.key.substr(0, 1));
    }
    std::sort(names.begin(), names.end());
    std::string out;
    for (const std::string& n : names) out += (out.empty() ? "" : " ") + n;
    return out;
}

class StoreTest : public ::testing::TestWithParam<const char*> {
  protected:
    static void SetUpTestSuite() { redis_ = std::make_unique<testing_support::RedisServer>(); }
    static void TearDownTestSuite() { redis_.reset(); }

    // A store of the kind under test; Redis stores of one test share a key prefix of their own.
    std::unique_ptr<AnnouncementStore> Store(size_t maxPerAddress) {
        if (std::string(GetParam()) == "memory") {
            return std::make_unique<lookup::MemoryStore>(maxPerAddress);
        }
        static std::atomic<int> tests{0};
        if (prefix_.empty()) prefix_ = "t" + std::to_string(tests++) + ":";
        lookup::RedisOptions options;
        options.port = static_cast<uint16_t>(redis_->port());
        options.maxPerAddress = maxPerAddress;
        options.prefix = prefix_;
        return std::make_unique<lookup::RedisStore>(options);
    }

    static std::unique_ptr<testing_support::RedisServer> redis_;
    std::string prefix_;
};
std::unique_ptr<testing_support::RedisServer> StoreTest::redis_;

TEST_P(StoreTest, AnnounceRefreshWithdrawAndCounts) {
    enum class Op { Announce, Withdraw, ByMd5, ByUrl, Counts };
    struct Step {
        const char* what;
        Op op;
        Announcement a;  // Withdraw: address, port, key; ByMd5/ByUrl: md5/url
        StoreStatus status;
        std::string expected;  // holders, "removed=N" or "peers=N files=N"
    };
    const std::string u = "http://o.example/f.pak";
    const Step steps[] = {
        {"first holder", Op::Announce, Make("10.0.0.1", 7001, kKey1, kMd5A, u, 10),
         StoreStatus::Ok},
        {"second engine, same address", Op::Announce, Make("10.0.0.1", 7002, kKey1, kMd5A, u, 100),
         StoreStatus::Ok},
        {"an engine that holds nothing yet", Op::Announce,
         Make("10.0.0.2", 7001, kKey1, kMd5A, u, 0), StoreStatus::Ok},
        {"a file known by its URL only", Op::Announce,
         Make("10.0.0.2", 7001, kKey2, "", "http://o.example/g.pak", 5), StoreStatus::Ok},
        {"holders by digest", Op::ByMd5, Make("", 0, "", kMd5A, "", 0), StoreStatus::Ok,
         "10.0.0.1:7001/1 10.0.0.1:7002/1"},
        {"holders by URL", Op::ByUrl, Make("", 0, "", "", u, 0), StoreStatus::Ok,
         "10.0.0.1:7001/1 10.0.0.1:7002/1"},
        {"counts", Op::Counts, {}, StoreStatus::Ok, "peers=3 files=2"},
        {"refresh: holds nothing now", Op::Announce, Make("10.0.0.1", 7001, kKey1, kMd5A, u, 0),
         StoreStatus::Ok},
        {"only the other holds bytes", Op::ByMd5, Make("", 0, "", kMd5A, "", 0), StoreStatus::Ok,
         "10.0.0.1:7002/1"},
        {"refresh: another digest", Op::Announce, Make("10.0.0.1", 7002, kKey1, kMd5B, u, 50),
         StoreStatus::Ok},
        {"gone from the old digest", Op::ByMd5, Make("", 0, "", kMd5A, "", 0), StoreStatus::Ok, ""},
        {"found under the new one", Op::ByMd5, Make("", 0, "", kMd5B, "", 0), StoreStatus::Ok,
         "10.0.0.1:7002/1"},
        {"three files now", Op::Counts, {}, StoreStatus::Ok, "peers=3 files=3"},
        {"withdraw one key", Op::Withdraw, Make("10.0.0.2", 7001, kKey2, "", "", 0),
         StoreStatus::Ok, "removed=1"},
        {"withdraw a key never announced", Op::Withdraw, Make("10.0.0.2", 7001, kKey2, "", "", 0),
         StoreStatus::Ok, "removed=0"},
        {"the URL-only file is gone", Op::Counts, {}, StoreStatus::Ok, "peers=3 files=2"},
        {"withdraw everything of one engine", Op::Withdraw, Make("10.0.0.1", 7002, "", "", "", 0),
         StoreStatus::Ok, "removed=1"},
        {"its holders are gone", Op::ByUrl, Make("", 0, "", "", u, 0), StoreStatus::Ok, ""},
        {"two engines left", Op::Counts, {}, StoreStatus::Ok, "peers=2 files=1"},
        {"cap: second of an address", Op::Announce, Make("10.0.0.1", 7003, kKey1, kMd5A, u, 1),
         StoreStatus::Ok},
        {"cap: third of an address", Op::Announce, Make("10.0.0.1", 7004, kKey1, kMd5A, u, 1),
         StoreStatus::Ok},
        {"cap: fourth is refused", Op::Announce, Make("10.0.0.1", 7005, kKey1, kMd5A, u, 1),
         StoreStatus::TooMany},
        {"cap: a refresh is not new", Op::Announce, Make("10.0.0.1", 7003, kKey1, kMd5A, u, 2),
         StoreStatus::Ok},
        {"cap: a withdraw makes room", Op::Withdraw, Make("10.0.0.1", 7003, kKey1, "", "", 0),
         StoreStatus::Ok, "removed=1"},
        {"cap: room again", Op::Announce, Make("10.0.0.1", 7005, kKey1, kMd5A, u, 1),
         StoreStatus::Ok},
        {"cap: another address is not counted", Op::Announce,
         Make("10.0.0.3", 7004, kKey1, kMd5A, u, 100), StoreStatus::Ok},
        {"holders at the end", Op::ByMd5, Make("", 0, "", kMd5A, "", 0), StoreStatus::Ok,
         "10.0.0.1:7004/1 10.0.0.1:7005/1 10.0.0.3:7004/1"},
    };
    // At most 3 announcements per address.
    std::unique_ptr<AnnouncementStore> store = Store(3);
    for (const Step& s : steps) {
        SCOPED_TRACE(s.what);
        std::vector<Announcement> found;
        lookup::StoreCounts counts;
        size_t removed = 0;
        std::string got;
        StoreStatus status = StoreStatus::Ok;
        switch (s.op) {
            case Op::Announce:
                status = store->Announce(s.a, 60s);
                break;
            case Op::Withdraw:
                status = store->Withdraw(s.a.address, s.a.port, s.a.key, removed);
                got = "removed=" + std::to_string(removed);
                break;
            case Op::ByMd5:
                status = store->HoldersByMd5(s.a.md5, 10, found);
                got = Names(found);
                break;
            case Op::ByUrl:
                status = store->HoldersByUrl(s.a.url, 10, found);
                got = Names(found);
                break;
            case Op::Counts:
                status = store->Counts(counts);
                got = "peers=" + std::to_string(counts.peers) +
                      " files=" + std::to_string(counts.files);
                break;
        }
        EXPECT_EQ(status, s.status);
        EXPECT_EQ(got, s.expected);
    }
}

TEST_P(StoreTest, AnnouncementsExpireUnlessRenewed) {
    std::unique_ptr<AnnouncementStore> store = Store(10);
    ASSERT_EQ(store->Announce(Make("10.0.0.1", 7001, kKey1, kMd5A, "", 5), 60s), StoreStatus::Ok);
    ASSERT_EQ(store->Announce(Make("10.0.0.1", 7002, kKey1, kMd5A, "", 5), 300ms), StoreStatus::Ok);
    ASSERT_EQ(store->Announce(Make("10.0.0.2", 7002, kKey2, kMd5B, "", 5), 300ms), StoreStatus::Ok);
    std::this_thread::sleep_for(800ms);
    std::vector<Announcement> found;
    ASSERT_EQ(store->HoldersByMd5(kMd5A, 10, found), StoreStatus::Ok);
    EXPECT_EQ(Names(found), "10.0.0.1:7001/1");
    lookup::StoreCounts counts;
    ASSERT_EQ(store->Counts(counts), StoreStatus::Ok);
    EXPECT_EQ(counts.peers, 1u);
    EXPECT_EQ(counts.files, 1u);
    // An expired announcement no longer counts against its address's cap.
    std::unique_ptr<AnnouncementStore> capped = Store(1);
    ASSERT_EQ(capped->Announce(Make("10.0.0.9", 7001, kKey2, kMd5B, "", 5), 300ms),
              StoreStatus::Ok);
    EXPECT_EQ(capped->Announce(Make("10.0.0.9", 7002, kKey2, kMd5B, "", 5), 60s),
              StoreStatus::TooMany);
    std::this_thread::sleep_for(800ms);
    EXPECT_EQ(capped->Announce(Make("10.0.0.9", 7002, kKey2, kMd5B, "", 5), 60s), StoreStatus::Ok);
}

TEST_P(StoreTest, ManyHoldersGiveABoundedRandomPick) {
    std::unique_ptr<AnnouncementStore> store = Store(1000);
    for (uint16_t port = 1; port <= 200; ++port) {
        ASSERT_EQ(store->Announce(Make("10.0.0.1", port, kKey1, kMd5A, "", 5), 60s),
                  StoreStatus::Ok);
    }
    std::set<uint16_t> seen;
    for (int round = 0; round < 20; ++round) {
        std::vector<Announcement> found;
        ASSERT_EQ(store->HoldersByMd5(kMd5A, 8, found), StoreStatus::Ok);
        ASSERT_EQ(found.size(), 8u);
        std::set<uint16_t> distinct;
        for (const Announcement& a : found) distinct.insert(a.port);
        EXPECT_EQ(distinct.size(), 8u);
        seen.insert(distinct.begin(), distinct.end());
    }
    // 20 picks of 8 out of 200 that kept to a few would mean no randomness.
    EXPECT_GT(seen.size(), 60u);
}

TEST_P(StoreTest, ManyThreadsAtOnce) {
    std::unique_ptr<AnnouncementStore> store = Store(1000);
    std::vector<std::thread> threads;
    std::atomic<int> failures{0};
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (uint16_t i = 1; i <= 50; ++i) {
                const uint16_t port = static_cast<uint16_t>(t * 100 + i);
                std::vector<Announcement> found;
                size_t removed = 0;
                if (store->Announce(Make("10.0.0.1", port, kKey1, kMd5A, "u", 5), 60s) !=
                        StoreStatus::Ok ||
                    store->HoldersByUrl("u", 5, found) != StoreStatus::Ok ||
                    (i % 2 == 0 &&
                     store->Withdraw("10.0.0.1", port, "", removed) != StoreStatus::Ok)) {
                    ++failures;
                }
            }
        });
    }
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(failures.load(), 0);
    lookup::StoreCounts counts;
    ASSERT_EQ(store->Counts(counts), StoreStatus::Ok);
    EXPECT_EQ(counts.peers, 100u);
}

INSTANTIATE_TEST_SUITE_P(Stores, StoreTest, ::testing::Values("memory", "redis"),
                         [](const auto& param) { return std::string(param.param); });

TEST(RedisStore, ARedisThatIsDownAnswersUnavailableThenRecovers) {
    testing_support::RedisServer redis;
    lookup::RedisOptions options;
    options.port = static_cast<uint16_t>(redis.port());
    options.connectTimeoutMs = 500;
    options.commandTimeoutMs = 500;
    lookup::RedisStore store(options);
    const Announcement a = Make("10.0.0.1", 7001, kKey1, kMd5A, "", 5);
    ASSERT_EQ(store.Announce(a, 60s), StoreStatus::Ok);
    redis.Stop();
    std::vector<Announcement> found;
    lookup::StoreCounts counts;
    size_t removed = 0;
    EXPECT_EQ(store.Announce(a, 60s), StoreStatus::Unavailable);
    EXPECT_EQ(store.HoldersByMd5(kMd5A, 5, found), StoreStatus::Unavailable);
    EXPECT_EQ(store.Withdraw("10.0.0.1", 7001, "", removed), StoreStatus::Unavailable);
    EXPECT_EQ(store.Counts(counts), StoreStatus::Unavailable);
    ASSERT_TRUE(redis.Restart());
    // The store tries again half a second after a failed connect.
    StoreStatus status = StoreStatus::Unavailable;
    for (int i = 0; i < 50 && status != StoreStatus::Ok; ++i) {
        std::this_thread::sleep_for(100ms);
        status = store.Announce(a, 60s);
    }
    EXPECT_EQ(status, StoreStatus::Ok);
    ASSERT_EQ(store.HoldersByMd5(kMd5A, 5, found), StoreStatus::Ok);
    EXPECT_EQ(Names(found), "10.0.0.1:7001/1");
}

TEST(RedisStore, ARedisThatStopsAnsweringIsUnavailableWithinTheTimeOut) {
    testing_support::RedisServer redis;
    lookup::RedisOptions options;
    options.port = static_cast<uint16_t>(redis.port());
    options.commandTimeoutMs = 300;
    lookup::RedisStore store(options);
    const Announcement a = Make("10.0.0.1", 7001, kKey1, kMd5A, "", 5);
    ASSERT_EQ(store.Announce(a, 60s), StoreStatus::Ok);
    redis.Pause();
    {
        testing_support::HangGuard guard("calls on a Redis that does not answer", 60s);
        std::vector<Announcement> found;
        EXPECT_EQ(store.Announce(a, 60s), StoreStatus::Unavailable);
        EXPECT_EQ(store.HoldersByMd5(kMd5A, 5, found), StoreStatus::Unavailable);
    }
    redis.Resume();
    std::vector<Announcement> found;
    EXPECT_EQ(store.HoldersByMd5(kMd5A, 5, found), StoreStatus::Ok);
    EXPECT_EQ(Names(found), "10.0.0.1:7001/1");
}

TEST(RedisStore, Urls) {
    std::string host;
    uint16_t port = 0;
    EXPECT_TRUE(lookup::ParseRedisUrl("redis://127.0.0.1:6379", host, port));
    EXPECT_EQ(host + ":" + std::to_string(port), "127.0.0.1:6379");
    EXPECT_TRUE(lookup::ParseRedisUrl("redis://[::1]:7000/", host, port));
    EXPECT_EQ(host, "::1");
    for (const char* bad : {"redis://host", "http://h:1", "redis://h:0", "redis://h:70000",
                            "redis://u@h:1", "redis://::1:1", "redis://:1"}) {
        EXPECT_FALSE(lookup::ParseRedisUrl(bad, host, port)) << bad;
    }
}

}  // namespace
