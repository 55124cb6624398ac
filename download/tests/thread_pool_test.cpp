#include "download/http/thread_pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <set>
#include <stdexcept>
#include <vector>

#include "platform/event.h"

namespace DOWNANT {
namespace {

// Records what ran, on which thread and in which order; can hold its thread on a gate.
struct Log {
    std::mutex mutex;
    std::vector<int> order;
    std::set<std::thread::id> threads;
    std::atomic<int> destroyed{0};
};

class Recorder : public CThreadRequest {
  public:
    Recorder(Log& log, int id, platform::Event* gate = nullptr, bool fail = false,
             platform::Event* running = nullptr)
        : log_(log), id_(id), gate_(gate), running_(running), fail_(fail) {}
    ~Recorder() override { ++log_.destroyed; }
    void Execute(void* threadContext) override {
        auto* record = static_cast<CThreadPool::ThreadRecord*>(threadContext);
        EXPECT_EQ(record->threadId, std::this_thread::get_id());
        if (running_) running_->Set();
        if (gate_) gate_->Wait();
        {
            std::lock_guard<std::mutex> lock(log_.mutex);
            log_.order.push_back(id_);
            log_.threads.insert(std::this_thread::get_id());
        }
        if (fail_) throw std::runtime_error("request failed");
    }

  private:
    Log& log_;
    int id_;
    platform::Event* gate_;
    platform::Event* running_;
    bool fail_;
};

TEST(ThreadPool, RefusesSubmissionsUntilStarted) {
    Log log;
    CThreadPool pool(1, 4);
    Recorder request(log, 1);
    EXPECT_FALSE(pool.Submit(&request));  // still ours: it lives on the stack
    EXPECT_FALSE(pool.Submit(nullptr));
    EXPECT_EQ(pool.Start(), 1u);
    EXPECT_EQ(pool.Start(), 1u);  // threads are created once
    pool.Shutdown();
    EXPECT_FALSE(pool.Submit(&request));
    EXPECT_TRUE(log.order.empty());
}

TEST(ThreadPool, FullQueueRefusesAtOnceAndRunsInOrder) {
    Log log;
    platform::Event running(true, false), gate(true, false);
    CThreadPool pool(1, 3);
    pool.Start();
    // The one thread holds request 0 on the gate, so the next three fill the queue.
    ASSERT_TRUE(pool.Submit(new Recorder(log, 0, &gate, false, &running)));
    running.Wait();
    for (int i = 1; i <= 3; ++i) ASSERT_TRUE(pool.Submit(new Recorder(log, i)));
    Recorder refused(log, 99);
    EXPECT_FALSE(pool.Submit(&refused));
    gate.Set();
    pool.Shutdown();  // pills queue behind the pending requests, which all run
    EXPECT_EQ(log.order, (std::vector<int>{0, 1, 2, 3}));
    EXPECT_EQ(log.destroyed.load(), 4);
}

TEST(ThreadPool, AFailingRequestDoesNotEndItsThread) {
    Log log;
    {
        CThreadPool pool(2, 100);
        EXPECT_EQ(pool.Start(), 2u);
        for (int i = 0; i < 20; ++i)
            ASSERT_TRUE(pool.Submit(new Recorder(log, i, nullptr, i % 2 == 0)));
        pool.Shutdown();
    }
    EXPECT_EQ(log.order.size(), 20u);
    EXPECT_LE(log.threads.size(), 2u);
    EXPECT_EQ(log.destroyed.load(), 20);
}

TEST(ThreadPool, DestroyingARunningPoolStopsItsThreadsAndFreesPendingWork) {
    Log log;
    platform::Event gate(true, false);
    {
        CThreadPool pool(1, 100);
        pool.Start();
        ASSERT_TRUE(pool.Submit(new Recorder(log, 0, &gate)));
        ASSERT_TRUE(pool.Submit(new Recorder(log, 1)));
        gate.Set();
    }
    EXPECT_EQ(log.destroyed.load(), 2);
}

TEST(ThreadPool, StartAfterShutdownServesAgain) {
    Log log;
    CThreadPool pool(1, 10);
    pool.Start();
    pool.Shutdown();
    EXPECT_EQ(pool.Start(), 1u);
    ASSERT_TRUE(pool.Submit(new Recorder(log, 7)));
    pool.Shutdown();
    EXPECT_EQ(log.order, std::vector<int>{7});
}

}  // namespace
}  // namespace DOWNANT
