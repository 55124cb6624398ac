// The C interface end to end: real servers on 127.0.0.1, notifications to a window of the
// test's thread, the status block read at its published offsets.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <string>
#include <thread>

#include "engine/block_server.h"
#include "engine/multi_source_transfer.h"
#include "engine/resume_state.h"
#include "engine/transfer/block_list.h"
#include "platform/http_transfer.h"
#include "platform/messages.h"
#include "platform/registry.h"
#include "quillgate/tarn.h"
#include "testing/hang_guard.h"
#include "testing/http_reply.h"
#include "testing/mirror_log.h"
#include "testing/python_server.h"
#include "testing/temp_dir.h"
#include "testing/test_bytes.h"
#include "testing/wait_until.h"

namespace {

using testing_support::HangGuard;
using testing_support::HttpReply;
using testing_support::MirrorLog;
using testing_support::MirrorSentBytes;
using testing_support::PythonServer;
using testing_support::RandomBytes;
using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WaitUntil;
using testing_support::WriteFile;

constexpr uint32_t kCallbackValue = 0x5eed;
constexpr uintptr_t kWatchdogTimer = 77;

struct Status {
    TarnSystemTime start{}, end{};
    int64_t total = 0, received = 0;
    uint32_t state = 0;
    double ratio = 0;
};

Status ReadStatus(TarnTask* task) {
    unsigned char block[TARN_STATUS_BLOCK_SIZE];
    EXPECT_EQ(TarnGetStatusInfo(task, block), 1);
    Status s;
    std::memcpy(&s.start, block + TARN_STATUS_START_TIME_OFFSET, sizeof s.start);
    std::memcpy(&s.end, block + TARN_STATUS_END_TIME_OFFSET, sizeof s.end);
    std::memcpy(&s.total, block + TARN_STATUS_TOTAL_OFFSET, sizeof s.total);
    std::memcpy(&s.received, block + TARN_STATUS_RECEIVED_OFFSET, sizeof s.received);
    std::memcpy(&s.state, block + TARN_STATUS_STATE_OFFSET, sizeof s.state);
    std::memcpy(&s.ratio, block + TARN_STATUS_RATIO_OFFSET, sizeof s.ratio);
    return s;
}

// What the task told the window.
struct Notifications {
    int started = 0;
    int32_t end = -1;
    bool wrongValue = false;
    bool startedAfterEnd = false;
    bool timedOut = false;
    // A file looked at as the end arrives, and whether it was there then.
    std::string lookAtEnd;
    bool thereAtEnd = false;
};
Notifications* gSeen = nullptr;

intptr_t NotifyProc(platform::WindowHandle w, uint32_t message, uintptr_t wParam, intptr_t lParam) {
    if (message == TARN_MSG_STARTED || message == TARN_MSG_ENDED) {
        if (wParam != kCallbackValue) gSeen->wrongValue = true;
        if (message == TARN_MSG_STARTED) {
            if (gSeen->end >= 0) gSeen->startedAfterEnd = true;
            ++gSeen->started;
        } else {
            gSeen->end = static_cast<int32_t>(lParam);
            if (!gSeen->lookAtEnd.empty())
                gSeen->thereAtEnd = std::filesystem::exists(gSeen->lookAtEnd);
            platform::PostQuitMessage(0);
        }
        return 1;
    }
    return platform::DefWindowProc(w, message, wParam, lParam);
}

class TarnApiTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(platform::RegisterWindowClass("TarnApiTestWindow", NotifyProc));
        window_ = platform::CreateMessageWindow("TarnApiTestWindow");
        gSeen = &seen_;
        task_ = CreateTarnTask();
        ASSERT_NE(task_, nullptr);
        TarnSetCallback(task_, static_cast<uint64_t>(window_), kCallbackValue);
    }
    void TearDown() override {
        EXPECT_EQ(DestroyTarnTask(task_), 1);
        platform::DestroyMessageWindow(window_);
        gSeen = nullptr;
    }

    // Handles the task's notifications until it ends; after a minute, as a safety net, it
    // is cancelled and the test fails. Its end notification still ends the loop, so that
    // no quit is left for the next test's wait.
    Notifications WaitForEnd() {
        platform::SetTimer(window_, kWatchdogTimer, 60000);
        platform::Message m;
        while (platform::GetMessage(m)) {
            if (m.message == platform::WM_TIMER && m.wParam == kWatchdogTimer) {
                seen_.timedOut = true;
                TarnCancelDownload(task_);
            }
        }
        platform::KillTimer(window_, kWatchdogTimer);
        EXPECT_EQ(TarnWaitDownload(task_), 1);
        EXPECT_FALSE(seen_.timedOut);
        EXPECT_FALSE(seen_.wrongValue);
        EXPECT_FALSE(seen_.startedAfterEnd);
        EXPECT_GE(seen_.started, 1);
        Notifications result = seen_;
        seen_ = {};
        return result;
    }

    // Waits on another thread until bytes have arrived, then calls `stop` there.
    std::thread StopOnceReceiving(int32_t (*stop)(TarnTask*), std::atomic<int32_t>& result) {
        return std::thread([this, stop, &result] {
            EXPECT_TRUE(WaitUntil([this] {
                return ReadStatus(task_).received != 0 || ReadStatus(task_).state > 1;
            })) << "no bytes arrived";
            result = stop(task_);
        });
    }

    TempDir dir_{"tarn_api"};
    std::string site_ = [this] {
        std::filesystem::create_directories(dir_.path() / "site");
        return dir_ / "site";
    }();
    platform::WindowHandle window_ = platform::kNoWindow;
    Notifications seen_;
    TarnTask* task_ = nullptr;
};

TEST_F(TarnApiTest, OneMirrorFillsFileAndStatusBlock) {
    const std::string data = RandomBytes(1 << 20, 1);
    WriteFile(site_ + "/f.bin", data);
    PythonServer server(QG_MIRROR_SERVER, {site_, "good"});
    const std::string target = dir_ / "out.bin";
    ASSERT_EQ(TarnDownloadUrl(task_, server.Url("/f.bin").c_str(), "", target.c_str()), 1);
    // A second start while the first runs is refused.
    EXPECT_EQ(TarnDownloadUrl(task_, server.Url("/f.bin").c_str(), "", target.c_str()), 0);
    EXPECT_EQ(WaitForEnd().end, TARN_END_COMPLETED);
    EXPECT_EQ(ReadFile(target), data);

    const Status s = ReadStatus(task_);
    EXPECT_EQ(s.state, uint32_t{TARN_STATUS_COMPLETED});
    EXPECT_EQ(s.total, static_cast<int64_t>(data.size()));
    EXPECT_EQ(s.received, static_cast<int64_t>(data.size()));
    EXPECT_EQ(s.ratio, 1.0);
    EXPECT_GE(s.start.year, 2000);
    EXPECT_TRUE(s.start.month >= 1 && s.start.month <= 12 && s.start.day >= 1);
    EXPECT_GE(s.end.year, s.start.year);
    EXPECT_FALSE(std::filesystem::exists(target + ".$p4p$"));
}

TEST_F(TarnApiTest, ListMovesOnUntilOneUrlDelivers) {
    const std::string data = RandomBytes(300000, 2);
    WriteFile(site_ + "/f.bin", data);
    PythonServer server(QG_MIRROR_SERVER, {site_, "good"});
    struct Case {
        std::vector<std::string> paths;
        int32_t end;
        uint32_t state;
    };
    const Case cases[] = {
        {{"/missing1", "/missing2", "/f.bin"}, TARN_END_COMPLETED, TARN_STATUS_COMPLETED},
        {{"/missing1", "/missing2"}, TARN_END_LIST_FAILED, TARN_STATUS_ENDED},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.paths.size());
        std::vector<std::string> urls;
        for (const std::string& p : c.paths) urls.push_back(server.Url(p));
        std::vector<const char*> list;
        for (const std::string& u : urls) list.push_back(u.c_str());
        const std::string target = dir_ / ("list" + std::to_string(n++));
        ASSERT_EQ(TarnDownloadUrllist(task_, list.data(), static_cast<int32_t>(list.size()),
                                      target.c_str()),
                  1);
        EXPECT_EQ(WaitForEnd().end, c.end);
        EXPECT_EQ(ReadStatus(task_).state, c.state);
        if (c.end == TARN_END_COMPLETED) {
            EXPECT_EQ(ReadFile(target), data);
        } else {
            EXPECT_FALSE(std::filesystem::exists(target));
        }
    }
}

TEST_F(TarnApiTest, PauseThenResumeCompletesAndCancelEnds) {
    const std::string data = RandomBytes(2 << 20, 3);
    WriteFile(site_ + "/f.bin", data);
    PythonServer server(QG_MIRROR_SERVER, {site_, "good", "1000000"});
    const std::string target = dir_ / "out.bin";

    ASSERT_EQ(TarnDownloadUrl(task_, server.Url("/f.bin").c_str(), "", target.c_str()), 1);
    std::atomic<int32_t> paused{-1};
    std::thread pauser = StopOnceReceiving(TarnPauseDownload, paused);
    EXPECT_EQ(WaitForEnd().end, TARN_END_PAUSED);
    pauser.join();
    EXPECT_EQ(paused.load(), 1);
    EXPECT_EQ(ReadStatus(task_).state, uint32_t{TARN_STATUS_PAUSED});
    EXPECT_FALSE(std::filesystem::exists(target));

    ASSERT_EQ(TarnResumeFile(task_, target.c_str()), 1);
    EXPECT_EQ(WaitForEnd().end, TARN_END_COMPLETED);
    EXPECT_EQ(ReadFile(target), data);

    const std::string second = dir_ / "cancelled.bin";
    ASSERT_EQ(TarnDownloadUrl(task_, server.Url("/f.bin").c_str(), "", second.c_str()), 1);
    std::atomic<int32_t> cancelled{-1};
    std::thread canceller = StopOnceReceiving(TarnCancelDownload, cancelled);
    EXPECT_EQ(WaitForEnd().end, TARN_END_FAILED);
    canceller.join();
    EXPECT_EQ(cancelled.load(), 1);
    EXPECT_EQ(ReadStatus(task_).state, uint32_t{TARN_STATUS_ENDED});
    EXPECT_FALSE(std::filesystem::exists(second));
}

TEST_F(TarnApiTest, PauseIsRefusedOutsideASingleDownload) {
    // Nothing runs: only a pause of a single download says it could not; the other stops
    // have nothing to stop.
    EXPECT_EQ(TarnPauseDownload(task_), 0);
    EXPECT_EQ(TarnCancelDownload(task_), 1);
    EXPECT_EQ(TarnPauseDownloadUrllist(task_), 1);
    EXPECT_EQ(TarnCancelDownloadUrllist(task_), 1);
    const std::string data = RandomBytes(1 << 20, 4);
    WriteFile(site_ + "/f.bin", data);
    PythonServer server(QG_MIRROR_SERVER, {site_, "good", "1000000"});
    const std::string url = server.Url("/f.bin");
    const char* list[] = {url.c_str()};
    const std::string target = dir_ / "out.bin";
    ASSERT_EQ(TarnDownloadUrllist(task_, list, 1, target.c_str()), 1);
    ASSERT_TRUE(WaitUntil([this] { return ReadStatus(task_).state != TARN_STATUS_IDLE; },
                          testing_support::kStepLimit, std::chrono::milliseconds(0)));
    EXPECT_EQ(TarnPauseDownload(task_), 0);  // a list pauses through its own call
    EXPECT_EQ(TarnCancelDownloadUrllist(task_), 1);
    EXPECT_EQ(WaitForEnd().end, TARN_END_FAILED);
}

// With block messages on, the start notification comes again as data arrives; without
// them the caller hears of the start and the end only.
TEST_F(TarnApiTest, BlockMessagesRepeatTheStartNotificationAsDataArrives) {
    const std::string data = RandomBytes(1 << 20, 10);
    WriteFile(site_ + "/f.bin", data);
    PythonServer server(QG_MIRROR_SERVER, {site_, "good", "500000"});
    for (const int32_t block : {0, 1}) {
        SCOPED_TRACE(block);
        ASSERT_EQ(TarnSetBlockMessage(task_, block), 1);
        const std::string target = dir_ / ("out" + std::to_string(block));
        ASSERT_EQ(TarnDownloadUrl(task_, server.Url("/f.bin").c_str(), "", target.c_str()), 1);
        const Notifications seen = WaitForEnd();
        EXPECT_EQ(seen.end, TARN_END_COMPLETED);
        if (block) {
            EXPECT_GT(seen.started, 1);
        } else {
            EXPECT_EQ(seen.started, 1);
        }
    }
}

// The task's thread blocks in its send to a window of this thread; a call that waits for
// that thread must handle the send meanwhile, or neither thread ever moves again.
TEST_F(TarnApiTest, CallsWhileTheTaskSendsToThisThreadDoNotDeadlock) {
    const std::string data = RandomBytes(4 << 20, 11);
    WriteFile(site_ + "/f.bin", data);
    PythonServer server(QG_MIRROR_SERVER, {site_, "good", "500000"});
    const std::string target = dir_ / "out.bin";
    for (const bool asDataArrives : {false, true}) {
        SCOPED_TRACE(asDataArrives ? "as data arrives" : "at the start");
        HangGuard guard("calls while the task sends to this thread", std::chrono::seconds(120));
        TarnTask* task = CreateTarnTask();
        TarnSetCallback(task, static_cast<uint64_t>(window_), kCallbackValue);
        TarnSetBlockMessage(task, 1);
        ASSERT_EQ(TarnDownloadUrl(task, server.Url("/f.bin").c_str(), "", target.c_str()), 1);
        // The start notification is sent at once and waits for this thread.
        if (asDataArrives) {
            // Take the start, then stop handling: the status block tells of data just
            // before the thread sends about it, and it stays blocked in that send.
            platform::Message m;
            while (seen_.started == 0) {
                platform::PeekMessage(m, false);
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            while (ReadStatus(task).received == 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        EXPECT_EQ(TarnSetFileName(task, (dir_ / "other.bin").c_str()), 0);  // it runs
        EXPECT_EQ(DestroyTarnTask(task), 1);
        EXPECT_EQ(seen_.end, TARN_END_FAILED);
        EXPECT_FALSE(std::filesystem::exists(target));
        // The end notification posted a quit for a loop this test does not run.
        platform::Message m;
        while (platform::PeekMessage(m, true)) {
        }
        seen_ = {};
    }
}

TEST(TarnApiCalls, NullTaskAndIdleServer) {
    EXPECT_EQ(DestroyTarnTask(nullptr), 1);
    for (auto stop : {TarnPauseDownload, TarnCancelDownload, TarnPauseDownloadUrllist,
                      TarnCancelDownloadUrllist}) {
        EXPECT_EQ(stop(nullptr), 0);
    }
    EXPECT_EQ(TarnGetPort(), 0u);
    unsigned char block[TARN_STATUS_BLOCK_SIZE];
    EXPECT_EQ(TarnGetStatusInfo(nullptr, block), 0);
    EXPECT_EQ(TarnDownloadUrl(nullptr, "http://127.0.0.1:1/", "", "x"), 0);
    TarnTask* task = CreateTarnTask();
    EXPECT_EQ(TarnDownloadUrl(task, "", "", "x"), 0);
    EXPECT_EQ(TarnDownloadUrllist(task, nullptr, 1, "x"), 0);
    EXPECT_EQ(TarnSetExpectedMD5(task, "not-a-digest"), 0);
    EXPECT_EQ(TarnSetExpectedMD5(task, "0123456789abcdef0123456789ABCDEF"), 1);
    EXPECT_EQ(TarnWaitDownload(task), 1);  // no thread: returns at once
    EXPECT_EQ(DestroyTarnTask(task), 1);
}

TEST(TarnApiCalls, CommitRecordGoesToIpcPortAndLogNamedInRegistry) {
    TempDir dir("tarn_commit");
    const std::string registry = dir / "hklm";
    const std::string log = dir / "engine.log";
    ASSERT_TRUE(platform::RegistryStore(registry)
                    .WriteString("Software\\velko\\p2p", "LogFileName", log)
                    .ok());
    setenv("QG_REGISTRY_HKLM", registry.c_str(), 1);
    // The library alone logs nowhere; the log target is read as a task is created.
    ASSERT_EQ(TarnInitLibrary(), 1);
    TarnCommitFile(nullptr, "before any task", "");
    EXPECT_FALSE(std::filesystem::exists(log));
    ASSERT_EQ(DestroyTarnTask(CreateTarnTask()), 1);

    const std::string received = dir / "received";
    {
        PythonServer listener(QG_COMMIT_LISTENER, {received});
        TarnSetIPCPort(static_cast<uint32_t>(listener.port()));
        EXPECT_EQ(TarnCommitFile(nullptr, "dir\\game.pak", "0123abcd"), 1);
        // The listener appends its record when the connection closes.
        for (int i = 0; i < 3000 && ReadFile(received).find("--end--") == std::string::npos; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    EXPECT_EQ(ReadFile(received), "dir\\game.pak\r\n0123abcd\r\n\r\n3\r\n--end--\n");
    const std::string logged = ReadFile(log);
    EXPECT_NE(logged.find("filename: dir\\game.pak"), std::string::npos) << logged;
    EXPECT_NE(logged.find("md5: 0123abcd"), std::string::npos) << logged;

    // Nobody listening: a failure, not a success.
    TarnSetIPCPort(1);
    EXPECT_EQ(TarnCommitFile(nullptr, "a", "b"), 0);

    // Without the value the log goes nowhere.
    ASSERT_TRUE(
        platform::RegistryStore(registry).Delete("Software\\velko\\p2p", "LogFileName").ok());
    ASSERT_EQ(DestroyTarnTask(CreateTarnTask()), 1);
    const size_t before = ReadFile(log).size();
    TarnCommitFile(nullptr, "quiet", "");
    EXPECT_EQ(ReadFile(log).size(), before);
    unsetenv("QG_REGISTRY_HKLM");
}

// Publishes the block list of the file at `path` beside it, as `qgpatch blocks` does.
void PublishBlockList(const std::string& path) {
    engine::BlockList list;
    std::string error;
    ASSERT_TRUE(engine::DescribeFile(path, list, error)) << error;
    WriteFile(path + ".blocks", engine::SerializeBlockList(list));
}

uint32_t FailureOf(TarnTask* task) {
    unsigned char block[TARN_STATUS_BLOCK_SIZE];
    EXPECT_EQ(TarnGetStatusInfo(task, block), 1);
    uint32_t failure = 0;
    std::memcpy(&failure, block + TARN_STATUS_FAILURE_OFFSET, sizeof failure);
    return failure;
}

HttpReply Fetch(const std::string& url, const std::string& range) {
    platform::HttpRequest request;
    request.url = url;
    request.connectTimeoutSeconds = 10;
    request.noDataTimeoutSeconds = 10;
    request.extraHeaders.push_back("Range: bytes=" + range);
    HttpReply c;
    platform::HttpGet(request, c);
    return c;
}

// Runs after every other test of the binary: the block server starts on first need.
class TarnPeersTest : public TarnApiTest {
  protected:
    void TearDown() override {
        TarnSetLookupServer("");
        const engine::TransferLimits defaults;
        TarnSetConnectionLimits(static_cast<uint32_t>(defaults.connectionsPerSource),
                                static_cast<uint32_t>(defaults.connectionsInAll));
        TarnApiTest::TearDown();
    }
};

// How often the mirror was asked for the whole of `path`.
int RequestsFor(const std::filesystem::path& log, const std::string& path) {
    std::istringstream lines(ReadFile(log));
    int asked = 0;
    for (std::string line; std::getline(lines, line);) asked += line.rfind(path + " ", 0) == 0;
    return asked;
}

// The lookup is not trusted: its mirror delivers only when its bytes can be checked. So
// too when its answer comes only after the caller's URL has failed: the task waits for it
// and runs once more, with the mirror beside the caller's URL as the lookup's.
TEST_F(TarnPeersTest, LookupSourcesServeADownloadWhoseUrlFailsWhenTheirBytesCanBeChecked) {
    const std::string data = RandomBytes(300000, 5);
    WriteFile(site_ + "/f.bin", data);
    PythonServer server(QG_MIRROR_SERVER, {site_, "good"});
    const std::filesystem::path asked = MirrorLog(dir_.path(), "good", server.port(), ".count");
    const std::string answer = dir_ / "answer";
    WriteFile(answer, "Length=300000\r\n\r\n" + server.Url("/f.bin") + "\tkind=mirror\r\n");

    for (const bool late : {false, true}) {
        // Dripped, the answer takes seconds; the caller's URL fails within milliseconds.
        const std::string request = dir_ / (late ? "request.late" : "request");
        PythonServer lookup(QG_LOOKUP_SERVER, {answer, request, late ? "drip:0.05" : "200"});
        TarnSetLookupServer(lookup.host().c_str());
        for (const bool withDigest : {true, false}) {
            SCOPED_TRACE(std::string(late ? "late answer, " : "") +
                         (withDigest ? "with the caller's MD5" : "nothing to check against"));
            const std::string target =
                dir_ / ((late ? "late-" : "") + std::string(withDigest ? "out.bin" : "unchecked"));
            ASSERT_EQ(
                TarnSetExpectedMD5(task_, withDigest ? testing_support::Md5Hex(data).c_str() : ""),
                1);
            // Each run looks for the file's block list first.
            const int runsBefore = RequestsFor(asked, "/gone.bin.blocks");
            ASSERT_EQ(TarnDownloadUrl(task_, server.Url("/gone.bin").c_str(), "", target.c_str()),
                      1);
            if (withDigest) {
                EXPECT_EQ(WaitForEnd().end, TARN_END_COMPLETED);
                EXPECT_TRUE(ReadFile(target) == data);
            } else {
                EXPECT_EQ(WaitForEnd().end, TARN_END_FAILED);
                EXPECT_EQ(FailureOf(task_), uint32_t{TARN_FAILURE_NO_SOURCE});
                EXPECT_FALSE(std::filesystem::exists(target));
            }
            if (late) {
                EXPECT_EQ(RequestsFor(asked, "/gone.bin.blocks") - runsBefore, 2)
                    << ReadFile(asked);
            }
        }
        EXPECT_NE(ReadFile(request).find("gone.bin"), std::string::npos) << ReadFile(request);
    }
}

TEST_F(TarnPeersTest, BlockServerServesHeldBytesOnly) {
    const std::string data = RandomBytes(1 << 20, 6);
    WriteFile(site_ + "/f.bin", data);
    // Bytes are served once they passed their block hash: the list lies beside the file.
    PublishBlockList(site_ + "/f.bin");
    // One connection: the first block is checked well before the last bytes arrive.
    PythonServer server(QG_MIRROR_SERVER, {site_, "good", "300000"});
    TarnSetConnectionLimits(1, 4);  // TearDown puts the defaults back
    const std::string answer = dir_ / "answer";
    WriteFile(answer, "FAILED");
    PythonServer lookup(QG_LOOKUP_SERVER, {answer, dir_ / "request"});
    TarnSetLookupServer(lookup.host().c_str());

    const std::string url = server.Url("/f.bin");
    const std::string target = dir_ / "out.bin";
    // This thread polls instead of handling notifications: no window.
    TarnSetCallback(task_, 0, 0);
    ASSERT_EQ(TarnDownloadUrl(task_, url.c_str(), "", target.c_str()), 1);
    // The status block follows the transfer a few times a second; the length is published
    // with the first poll that knows it.
    for (Status s = ReadStatus(task_); s.received < 8192 || s.total == 0 || TarnGetPort() == 0;
         s = ReadStatus(task_)) {
        ASSERT_LE(s.state, uint32_t{TARN_STATUS_DOWNLOADING});
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    const std::string base =
        "http://127.0.0.1:" + std::to_string(TarnGetPort()) + "/" + engine::BlockKey("", url);
    // Served once the task's next poll has published the length.
    HttpReply held = Fetch(base, "0-4095");
    for (int i = 0; i < 500 && held.status != 206; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        held = Fetch(base, "0-4095");
    }
    EXPECT_EQ(held.status, 206);
    EXPECT_EQ(held.body, data.substr(0, 4096));
    EXPECT_NE(Fetch(base, std::to_string(data.size() - 10) + "-").status, 206);
    EXPECT_NE(Fetch("http://127.0.0.1:" + std::to_string(TarnGetPort()) + "/0123", "0-9").status,
              206);
    EXPECT_EQ(TarnCancelDownload(task_), 1);
    EXPECT_EQ(TarnWaitDownload(task_), 1);
    EXPECT_EQ(ReadStatus(task_).state, uint32_t{TARN_STATUS_ENDED});
}

TEST_F(TarnPeersTest, PeerIsAskedAgainAfterRefusingBytesItDoesNotHoldYet) {
    const std::string data = RandomBytes(4 << 20, 7);
    WriteFile(site_ + "/f.bin", data);
    // The peer's bytes are used because they can be checked: the list lies beside the file.
    PublishBlockList(site_ + "/f.bin");
    // One slow connection to the mirror: the ranges the peer refuses stay open for it.
    PythonServer mirror(QG_MIRROR_SERVER, {site_, "good", "300000"});
    PythonServer peer(QG_MIRROR_SERVER, {site_, "late"});
    const std::string answer = dir_ / "answer";
    WriteFile(answer, "Length=" + std::to_string(data.size()) + "\r\n\r\n" + peer.Url("/f.bin") +
                          "\tkind=peer\r\n");
    PythonServer lookup(QG_LOOKUP_SERVER, {answer, dir_ / "request"});
    TarnSetLookupServer(lookup.host().c_str());
    TarnSetConnectionLimits(1, 4);  // TearDown puts the defaults back

    const std::string target = dir_ / "out.bin";
    ASSERT_EQ(TarnDownloadUrl(task_, mirror.Url("/f.bin").c_str(), "", target.c_str()), 1);
    EXPECT_EQ(WaitForEnd().end, TARN_END_COMPLETED);
    EXPECT_TRUE(ReadFile(target) == data);
    // The peer refused three times and still delivered what the mirror did not send.
    const std::string asked = ReadFile(MirrorLog(dir_.path(), "late", peer.port(), ".count"));
    EXPECT_GE(std::count(asked.begin(), asked.end(), '\n'), 4) << asked;
    EXPECT_LT(MirrorSentBytes(dir_.path(), "good", mirror.port()),
              static_cast<int64_t>(data.size()));
}

// A lookup server that drips its answer (a byte every 20 s) holds up nothing: the caller's
// URL delivers at its own pace and a cancel ends the task, both while the lookup is still
// out; the lookup is then closed, not left hanging.
TEST_F(TarnPeersTest, DrippingLookupHoldsUpNeitherTheDownloadNorACancel) {
    HangGuard guard("a download beside a dripping lookup", std::chrono::seconds(150));
    const std::string data = RandomBytes(2 << 20, 12);
    WriteFile(site_ + "/f.bin", data);
    PythonServer server(QG_MIRROR_SERVER, {site_, "good", "2000000"});
    const std::string answer = dir_ / "answer";
    WriteFile(answer, "Length=" + std::to_string(data.size()) + "\r\n\r\n" + server.Url("/f.bin") +
                          "\tkind=mirror\r\n");
    for (const bool cancel : {false, true}) {
        SCOPED_TRACE(cancel ? "cancelled" : "completed");
        const std::string request = dir_ / (cancel ? "request.cancel" : "request.complete");
        PythonServer lookup(QG_LOOKUP_SERVER, {answer, request, "drip:20"});
        TarnSetLookupServer(lookup.host().c_str());
        seen_.lookAtEnd = request + ".closed";
        const std::string target = dir_ / (cancel ? "cancelled.bin" : "out.bin");
        ASSERT_EQ(TarnDownloadUrl(task_, server.Url("/f.bin").c_str(), "", target.c_str()), 1);
        std::atomic<int32_t> cancelled{-1};
        std::thread canceller;
        if (cancel) canceller = StopOnceReceiving(TarnCancelDownload, cancelled);
        const Notifications seen = WaitForEnd();
        if (canceller.joinable()) canceller.join();
        EXPECT_EQ(seen.end, cancel ? TARN_END_FAILED : TARN_END_COMPLETED);
        EXPECT_FALSE(seen.thereAtEnd) << "the task waited for the lookup to end";
        EXPECT_TRUE(std::filesystem::exists(request)) << "the lookup was not asked";
        if (cancel) {
            EXPECT_EQ(cancelled.load(), 1);
        } else {
            EXPECT_TRUE(ReadFile(target) == data);
        }
        // Once the task's thread has ended, so has its lookup.
        while (!std::filesystem::exists(request + ".closed"))
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

// The caller's URL has failed and the task waits for a lookup that drips its answer, which
// might name sources: a stop ends that wait at once, and the lookup with it.
TEST_F(TarnPeersTest, AStopEndsTheWaitForALateLookup) {
    HangGuard guard("a stop while the end waits for the lookup", std::chrono::seconds(120));
    PythonServer server(QG_MIRROR_SERVER, {site_, "good"});
    const std::string answer = dir_ / "answer";
    WriteFile(answer, "Length=300000\r\n\r\n" + server.Url("/f.bin") + "\tkind=mirror\r\n");
    for (const bool pause : {false, true}) {
        SCOPED_TRACE(pause ? "paused" : "cancelled");
        const std::string request = dir_ / (pause ? "request.pause" : "request.cancel");
        PythonServer lookup(QG_LOOKUP_SERVER, {answer, request, "drip:20"});
        TarnSetLookupServer(lookup.host().c_str());
        const std::string target = dir_ / (pause ? "paused.bin" : "cancelled.bin");
        ASSERT_EQ(TarnDownloadUrl(task_, server.Url("/gone.bin").c_str(), "", target.c_str()), 1);
        std::atomic<int32_t> stopped{-1};
        // The transfer has ended for want of a source while the task still runs.
        std::thread stopper([&] {
            while (FailureOf(task_) != TARN_FAILURE_NO_SOURCE)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            EXPECT_EQ(ReadStatus(task_).state, uint32_t{TARN_STATUS_DOWNLOADING});
            stopped = (pause ? TarnPauseDownload : TarnCancelDownload)(task_);
        });
        const Notifications seen = WaitForEnd();
        stopper.join();
        EXPECT_EQ(stopped.load(), 1);
        EXPECT_EQ(seen.end, pause ? TARN_END_PAUSED : TARN_END_FAILED);
        EXPECT_EQ(FailureOf(task_),
                  pause ? uint32_t{TARN_FAILURE_NONE} : uint32_t{TARN_FAILURE_CANCELLED});
        EXPECT_FALSE(std::filesystem::exists(target));
        while (!std::filesystem::exists(request + ".closed"))
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

// Peers cannot tell the file's length: a task that has nothing else ends.
TEST_F(TarnPeersTest, TaskWhoseUrlFailsEndsWhenOnlyPeersAreLeft) {
    WriteFile(site_ + "/f.bin", RandomBytes(300000, 8));
    PythonServer server(QG_MIRROR_SERVER, {site_, "good"});
    PythonServer peer(QG_MIRROR_SERVER, {site_, "late"});
    const std::string answer = dir_ / "answer";
    WriteFile(answer, "Length=300000\r\n\r\n" + peer.Url("/f.bin") + "\tkind=peer\r\n");
    PythonServer lookup(QG_LOOKUP_SERVER, {answer, dir_ / "request"});
    TarnSetLookupServer(lookup.host().c_str());

    const std::string target = dir_ / "out.bin";
    ASSERT_EQ(TarnDownloadUrl(task_, server.Url("/gone.bin").c_str(), "", target.c_str()), 1);
    EXPECT_EQ(WaitForEnd().end, TARN_END_FAILED);
    EXPECT_FALSE(std::filesystem::exists(target));
}

// A run killed before its first source told the length leaves a state without one; the
// next run's mirrors must still be able to tell it when that source has gone.
TEST_F(TarnApiTest, ResumedTaskWithoutLengthCompletesFromItsMirror) {
    const std::string data = RandomBytes(300000, 9);
    WriteFile(site_ + "/f.bin", data);
    PythonServer server(QG_MIRROR_SERVER, {site_, "good"});
    const std::string target = dir_ / "out.bin";
    engine::FileDescription d;
    d.blockSize = 256 * 1024;
    d.url = server.Url("/gone.bin");
    ASSERT_TRUE(engine::ResumeFiles(target).SaveDescription(d));

    const std::string mirror = server.Url("/f.bin");
    const char* mirrors[] = {mirror.c_str()};
    ASSERT_EQ(TarnAddMirrors(task_, mirrors, 1), 1);
    ASSERT_EQ(TarnResumeFile(task_, target.c_str()), 1);
    EXPECT_EQ(WaitForEnd().end, TARN_END_COMPLETED);
    EXPECT_TRUE(ReadFile(target) == data);
}

}  // namespace
