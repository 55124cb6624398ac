// The HTTP transfer against a scripted server on 127.0.0.1: what it reports of a response's
// range, and an interrupt from another thread ending a transfer that waits on silence.
#include "platform/http_transfer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "testing/python_server.h"

namespace {

using testing_support::PythonServer;

struct Recorder : platform::HttpTransferEvents {
    void OnResolving(const std::string&) override {}
    void OnConnecting() override {}
    void OnConnected() override { connected = true; }
    void OnRedirect(long, const std::string&) override {}
    void OnContentRange(int64_t f, int64_t l, int64_t t) override {
        ++ranges;
        first = f;
        last = l;
        total = t;
    }
    bool OnResponse(long, int64_t) override { return true; }
    bool OnBody(const char*, size_t) override { return true; }
    bool OnTick() override { return true; }

    std::atomic<bool> connected{false};
    int ranges = 0;
    int64_t first = 0, last = 0, total = 0;
};

platform::HttpRequest Get(const PythonServer& server, const std::string& path) {
    platform::HttpRequest request;
    request.url = server.Url(path);
    request.noDataTimeoutSeconds = 3600;  // only the interrupt may end a silent transfer
    return request;
}

TEST(HttpTransfer, ReportsTheRangeOfTheResponseAndFlagsMalformedOnes) {
    PythonServer server(QG_HEADER_SERVER, {});
    struct Case {
        const char* path;
        int ranges;
        int64_t first, last, total;
    } cases[] = {
        {"/range/bytes%205-9/100", 1, 5, 9, 100},
        {"/range/bytes%205-9/*", 1, 5, 9, -1},
        {"/range/bytes%209-5/100", 1, -1, -1, -1},   // backwards
        {"/range/bytes%205-9/9", 1, -1, -1, -1},     // past the end of the file
        {"/range/bytes%205-9/100x", 1, -1, -1, -1},  // trailing garbage
        {"/range/bytes%20"
         "99999999999999999999-1/2",
         1, -1, -1, -1},  // overflow
        {"/range/items%205-9/100", 1, -1, -1, -1},
        {"/plain", 0, 0, 0, 0},
    };
    for (const Case& c : cases) {
        Recorder events;
        const auto result = platform::HttpGet(Get(server, c.path), events);
        EXPECT_EQ(result.outcome, platform::HttpOutcome::Complete) << c.path;
        EXPECT_EQ(events.ranges, c.ranges) << c.path;
        EXPECT_EQ(events.first, c.first) << c.path;
        EXPECT_EQ(events.last, c.last) << c.path;
        EXPECT_EQ(events.total, c.total) << c.path;
    }
}

TEST(HttpTransfer, AnInterruptEndsATransferThatWaitsOnSilence) {
    PythonServer server(QG_HEADER_SERVER, {});
    platform::HttpInterrupt interrupt;
    platform::HttpRequest request = Get(server, "/silent");
    request.interrupt = &interrupt;
    Recorder events;
    std::thread waiter([&] {
        while (!events.connected) std::this_thread::yield();
        interrupt.Interrupt();
    });
    const auto result = platform::HttpGet(request, events);
    waiter.join();
    EXPECT_EQ(result.outcome, platform::HttpOutcome::Aborted);

    // Once interrupted, a transfer started with it does not begin.
    Recorder later;
    EXPECT_EQ(platform::HttpGet(request, later).outcome, platform::HttpOutcome::Aborted);
}

}  // namespace
