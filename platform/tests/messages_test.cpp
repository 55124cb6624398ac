#include "platform/messages.h"

#include <gtest/gtest.h>
#include <poll.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/tests/message_test_window.h"

namespace platform {
namespace {

using testing::CreateHandlerWindow;
using testing::Handler;
using testing::WindowThread;

constexpr uint32_t kPing = WM_USER + 1;
constexpr uint32_t kRelay = WM_USER + 2;

TEST(Messages, SendRunsOnOwnerThreadAndReturnsResult) {
    std::thread::id ranOn;
    WindowThread owner([&](WindowHandle, uint32_t msg, uintptr_t wp, intptr_t lp) -> intptr_t {
        ranOn = std::this_thread::get_id();
        return msg == kPing ? static_cast<intptr_t>(wp) + lp : 0;
    });
    EXPECT_EQ(SendMessage(owner.Window(), kPing, 40, 2), std::optional<intptr_t>(42));
    EXPECT_EQ(ranOn, owner.NativeId());
}

TEST(Messages, SendToOwnWindowIsADirectCall) {
    int calls = 0;
    Handler handler = [&](WindowHandle, uint32_t, uintptr_t, intptr_t) -> intptr_t {
        return ++calls;
    };
    WindowHandle window = CreateHandlerWindow(&handler);
    // No message loop runs here: only a direct call can answer.
    EXPECT_EQ(SendMessage(window, kPing, 0, 0), std::optional<intptr_t>(1));
    EXPECT_TRUE(DestroyMessageWindow(window));
    EXPECT_EQ(SendMessage(window, kPing, 0, 0), std::nullopt);
}

// A's procedure sends to B while B's procedure sends back to A: each thread blocked in a
// send serves the other's send, as the downloader and its waiting caller rely on.
TEST(Messages, ThreadsSendingToEachOtherDoNotDeadlock) {
    WindowHandle windowA = kNoWindow;
    WindowThread b([&](WindowHandle, uint32_t msg, uintptr_t wp, intptr_t) -> intptr_t {
        if (msg != kRelay) return 0;
        return wp == 0 ? 1 : SendMessage(windowA, kRelay, wp - 1, 0).value_or(-1000) + 1;
    });
    WindowThread a([&](WindowHandle, uint32_t msg, uintptr_t wp, intptr_t) -> intptr_t {
        if (msg != kRelay) return 0;
        return wp == 0 ? 1 : SendMessage(b.Window(), kRelay, wp - 1, 0).value_or(-1000) + 1;
    });
    windowA = a.Window();
    // Ten hops back and forth between the two threads, started from a third.
    EXPECT_EQ(SendMessage(a.Window(), kRelay, 10, 0), std::optional<intptr_t>(11));

    // Both threads sending to each other at the same moment, many times over.
    std::atomic<int> answered{0};
    std::thread fromA([&] {
        for (int i = 0; i < 200; ++i) answered += SendMessage(b.Window(), kRelay, 1, 0) == 2;
    });
    std::thread fromB([&] {
        for (int i = 0; i < 200; ++i) answered += SendMessage(a.Window(), kRelay, 1, 0) == 2;
    });
    fromA.join();
    fromB.join();
    EXPECT_EQ(answered.load(), 400);
}

TEST(Messages, ConcurrentSendersAreAllServed) {
    int64_t sum = 0;  // touched only on the owner thread
    WindowThread owner([&](WindowHandle, uint32_t, uintptr_t wp, intptr_t) -> intptr_t {
        sum += static_cast<int64_t>(wp);
        return sum;
    });
    std::vector<std::thread> senders;
    for (int t = 0; t < 4; ++t) {
        senders.emplace_back([&] {
            for (int i = 1; i <= 250; ++i) ASSERT_TRUE(SendMessage(owner.Window(), kPing, i, 0));
        });
    }
    for (auto& s : senders) s.join();
    EXPECT_EQ(SendMessage(owner.Window(), kPing, 0, 0), std::optional<intptr_t>(4 * 250 * 251 / 2));
}

TEST(Messages, PostedMessagesArriveInOrderAndQuitEndsTheLoop) {
    std::vector<Message> seen;
    Handler handler = [&](WindowHandle w, uint32_t msg, uintptr_t wp, intptr_t lp) -> intptr_t {
        seen.push_back(Message{w, msg, wp, lp});
        return 0;
    };
    WindowHandle window = CreateHandlerWindow(&handler);
    const uint32_t self = CurrentThreadId();
    std::thread poster([&] {
        EXPECT_TRUE(PostMessage(window, kPing, 1, 10));
        EXPECT_TRUE(PostThreadMessage(self, kPing, 2, 20));
        EXPECT_TRUE(PostMessage(window, kPing, 3, 30));
        EXPECT_TRUE(PostThreadMessage(self, WM_QUIT, 7, 0));
    });
    poster.join();
    Message m;
    std::vector<uintptr_t> threadMessages;
    while (GetMessage(m)) {
        if (m.window == kNoWindow) threadMessages.push_back(m.wParam);
        DispatchMessage(m);
    }
    EXPECT_EQ(m.message, WM_QUIT);
    EXPECT_EQ(m.wParam, 7u);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].wParam, 1u);
    EXPECT_EQ(seen[0].lParam, 10);
    EXPECT_EQ(seen[1].wParam, 3u);
    EXPECT_EQ(threadMessages, std::vector<uintptr_t>{2});
    EXPECT_FALSE(PeekMessage(m, true));
    DestroyMessageWindow(window);
}

TEST(Messages, PumpingWaitDispatchesUntilTheEventIsSet) {
    int received = 0;
    Handler handler = [&](WindowHandle, uint32_t msg, uintptr_t, intptr_t) -> intptr_t {
        return msg == kPing ? ++received : 0;
    };
    WindowHandle window = CreateHandlerWindow(&handler);
    Event done(false, false);
    std::thread worker([&] {
        for (int i = 0; i < 50; ++i) {
            // Sends only come back because the waiting thread pumps.
            EXPECT_EQ(SendMessage(window, kPing, 0, 0), std::optional<intptr_t>(i + 1));
        }
        PostMessage(window, kPing, 0, 0);
        SendMessage(window, kPing, 0, 0);
        done.Set();
    });
    WaitPumpingMessages(done);
    worker.join();
    EXPECT_EQ(received, 52);
    EXPECT_FALSE(done.TryWait());  // auto-reset: the wait consumed it
    DestroyMessageWindow(window);
}

TEST(Messages, WaitWithoutPumpingReportsInputAndTimeOut) {
    Event never(true, false);
    EXPECT_EQ(MsgWaitForEvent(never, 0), WaitResult::Timeout);
    PostThreadMessage(CurrentThreadId(), kPing, 0, 0);
    EXPECT_EQ(MsgWaitForEvent(never, kInfinite), WaitResult::Input);
    Message m;
    ASSERT_TRUE(PeekMessage(m, true));
    never.Set();
    EXPECT_EQ(MsgWaitForEvent(never, kInfinite), WaitResult::Signalled);
}

TEST(Messages, TimerFiresRepeatedlyUntilKilled) {
    std::vector<uintptr_t> ticks;
    Handler handler = [&](WindowHandle w, uint32_t msg, uintptr_t wp, intptr_t) -> intptr_t {
        if (msg == WM_TIMER) {
            ticks.push_back(wp);
            if (ticks.size() == 3) {
                EXPECT_TRUE(KillTimer(w, 5));
                PostQuitMessage(0);
            }
        }
        return 0;
    };
    WindowHandle window = CreateHandlerWindow(&handler);
    ASSERT_TRUE(SetTimer(window, 5, 5));
    EXPECT_FALSE(SetTimer(window, 6, 0));
    Message m;
    while (GetMessage(m)) DispatchMessage(m);
    EXPECT_EQ(ticks, (std::vector<uintptr_t>{5, 5, 5}));
    EXPECT_FALSE(KillTimer(window, 5));
    // The queue's descriptor shows no more input once the timer is gone.
    pollfd p{MessageQueueDescriptor(), POLLIN, 0};
    EXPECT_EQ(poll(&p, 1, 30), 0);
    DestroyMessageWindow(window);
}

TEST(Messages, QueueDescriptorIsReadableWhileWorkIsPending) {
    std::thread([] {
        pollfd p{MessageQueueDescriptor(), POLLIN, 0};
        EXPECT_EQ(poll(&p, 1, 0), 0);
        const uint32_t self = CurrentThreadId();
        std::thread([self] { PostThreadMessage(self, kPing, 0, 0); }).join();
        EXPECT_EQ(poll(&p, 1, 0), 1);
        Message m;
        EXPECT_TRUE(PeekMessage(m, true));
        EXPECT_FALSE(PeekMessage(m, true));
        EXPECT_EQ(poll(&p, 1, 0), 0);
    }).join();
}

TEST(Messages, SendsToAThreadThatShutsDownFailInsteadOfHanging) {
    WindowHandle window = kNoWindow;
    Handler handler = [](WindowHandle, uint32_t, uintptr_t, intptr_t) -> intptr_t { return 1; };
    Event created(true, false), sendQueued(true, false), shutDown(true, false);
    std::thread owner([&] {
        window = CreateHandlerWindow(&handler);
        created.Set();
        // Busy without pumping: a send queued now can only fail.
        sendQueued.Wait();
        ShutdownMessageQueue();
        shutDown.Set();
    });
    created.Wait();
    std::optional<intptr_t> pending = 0;
    std::thread sender([&] { pending = SendMessage(window, kPing, 0, 0); });
    // The sender cannot be observed blocking; give it a moment to queue, then shut down.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    sendQueued.Set();
    sender.join();
    shutDown.Wait();
    EXPECT_EQ(pending, std::nullopt);
    EXPECT_FALSE(IsWindowAlive(window));
    EXPECT_EQ(SendMessage(window, kPing, 0, 0), std::nullopt);
    EXPECT_FALSE(PostMessage(window, kPing, 0, 0));
    owner.join();
}

TEST(Messages, WindowsDieWithTheirThread) {
    WindowHandle window = kNoWindow;
    uint32_t threadId = 0;
    Handler handler = [](WindowHandle, uint32_t, uintptr_t, intptr_t) -> intptr_t { return 1; };
    std::thread([&] {
        window = CreateHandlerWindow(&handler);
        threadId = CurrentThreadId();
        EXPECT_EQ(GetWindowUserData(window), reinterpret_cast<intptr_t>(&handler));
    }).join();
    EXPECT_FALSE(IsWindowAlive(window));
    EXPECT_EQ(SendMessage(window, kPing, 0, 0), std::nullopt);
    EXPECT_FALSE(PostThreadMessage(threadId, kPing, 0, 0));
}

TEST(Messages, OnlyTheOwnerDestroysOrTimesItsWindow) {
    WindowThread owner([](WindowHandle, uint32_t, uintptr_t, intptr_t) -> intptr_t { return 1; });
    EXPECT_FALSE(DestroyMessageWindow(owner.Window()));
    EXPECT_FALSE(SetTimer(owner.Window(), 1, 10));
    EXPECT_TRUE(IsWindowAlive(owner.Window()));
    EXPECT_EQ(CreateMessageWindow("NO_SUCH_CLASS"), kNoWindow);
    EXPECT_FALSE(RegisterWindowClass("QG_TEST_HANDLER_WINDOW", DefWindowProc));
}

TEST(Events, ManualAndAutoReset) {
    Event manual(true, true);
    EXPECT_TRUE(manual.Wait(0));
    EXPECT_TRUE(manual.Wait(0));  // stays signalled
    manual.Reset();
    EXPECT_FALSE(manual.Wait(10));

    Event automatic(false, false);
    automatic.Set();
    automatic.Set();  // setting twice still releases one waiter
    EXPECT_TRUE(automatic.Wait(0));
    EXPECT_FALSE(automatic.Wait(10));
}

TEST(Events, AutoResetReleasesOneWaiterPerSet) {
    Event event(false, false);
    std::atomic<int> released{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 4; ++i) {
        waiters.emplace_back([&] {
            event.Wait();
            ++released;
        });
    }
    for (int i = 0; i < 4; ++i) {
        event.Set();
        while (released.load() < i + 1) std::this_thread::yield();
    }
    for (auto& w : waiters) w.join();
    EXPECT_EQ(released.load(), 4);
}

TEST(Events, ManualResetReleasesEveryWaiter) {
    Event event(true, false);
    std::vector<std::thread> waiters;
    std::atomic<int> released{0};
    for (int i = 0; i < 4; ++i) {
        waiters.emplace_back([&] {
            EXPECT_TRUE(event.Wait());
            ++released;
        });
    }
    event.Set();
    for (auto& w : waiters) w.join();
    EXPECT_EQ(released.load(), 4);
}

}  // namespace
}  // namespace platform
