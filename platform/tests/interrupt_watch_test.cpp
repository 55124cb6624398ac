#include "platform/interrupt_watch.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <atomic>

#include "platform/event.h"

namespace {

TEST(InterruptWatch, TurnsCtrlCIntoACallAndGivesTheSignalBack) {
    struct sigaction before {};
    ASSERT_EQ(sigaction(SIGINT, nullptr, &before), 0);
    {
        platform::Event called(true, false);
        std::atomic<int> calls{0};
        platform::InterruptWatch watch([&] {
            ++calls;
            called.Set();
        });
        ASSERT_TRUE(watch.active());
        ASSERT_EQ(raise(SIGINT), 0);  // the process would end here without the watch
        ASSERT_TRUE(called.Wait(60000));
        EXPECT_EQ(calls.load(), 1);
    }
    struct sigaction after {};
    ASSERT_EQ(sigaction(SIGINT, nullptr, &after), 0);
    EXPECT_EQ(after.sa_handler, before.sa_handler);
}

TEST(InterruptWatch, TurnsAHangupIntoItsOwnCallWhenAsked) {
    struct sigaction before {};
    ASSERT_EQ(sigaction(SIGHUP, nullptr, &before), 0);
    {
        platform::Event hungUp(true, false);
        std::atomic<int> interrupts{0};
        platform::InterruptWatch watch([&] { ++interrupts; }, [&] { hungUp.Set(); });
        ASSERT_EQ(raise(SIGHUP), 0);  // the process would end here without the watch
        ASSERT_TRUE(hungUp.Wait(60000));
        EXPECT_EQ(interrupts.load(), 0);
    }
    struct sigaction after {};
    ASSERT_EQ(sigaction(SIGHUP, nullptr, &after), 0);
    EXPECT_EQ(after.sa_handler, before.sa_handler);
}

TEST(InterruptWatch, LeavesASignalTheProcessIgnoresIgnored) {
    struct sigaction ignore {
    }, before{};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    ASSERT_EQ(sigaction(SIGINT, &ignore, &before), 0);
    {
        platform::InterruptWatch watch([] {});
        struct sigaction during {};
        ASSERT_EQ(sigaction(SIGINT, nullptr, &during), 0);
        EXPECT_EQ(during.sa_handler, SIG_IGN);  // a background job keeps ignoring Ctrl+C
    }
    struct sigaction after {};
    ASSERT_EQ(sigaction(SIGINT, &before, &after), 0);
    EXPECT_EQ(after.sa_handler, SIG_IGN);
}

}  // namespace
