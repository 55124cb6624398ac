// A fixed set of threads that run requests taken from a bounded first-in first-out queue.
// The HTTP downloader runs each transfer as a request of its own one-thread pool.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/event.h"

namespace DOWNANT {

// One unit of work for the pool. The pool owns a request once `Submit` accepted it and
// deletes it after `Execute` has run (also when `Execute` threw).
class CThreadRequest {
  public:
    virtual ~CThreadRequest() = default;
    // Runs on a pool thread; `threadContext` is that thread's `CThreadPool::ThreadRecord`.
    virtual void Execute(void* threadContext) = 0;
};

// Thread safety: `Submit` may be called from any thread at any time, also from a request
// running on the pool. `Start`, `Shutdown` and the destructor belong to the owner's thread
// and must not run on a pool thread.
class CThreadPool {
  public:
    // Thrown by a pill's `Execute` to end the thread that runs it; nothing else throws it.
    class SuicideException {};
    // The request that `Shutdown` queues once per thread.
    class SuicidePill : public CThreadRequest {
      public:
        void Execute(void* threadContext) override;
    };
    // What a request's `Execute` receives.
    struct ThreadRecord {
        CThreadPool* pool;
        std::thread::id threadId;
    };

    // No thread runs until `Start`. Throws std::exception only when its synchronisation
    // objects cannot be created.
    CThreadPool(uint32_t threadCount, uint32_t maxQueue);
    // Shuts down threads that are still running, then deletes the requests that never ran.
    virtual ~CThreadPool();
    CThreadPool(const CThreadPool&) = delete;
    CThreadPool& operator=(const CThreadPool&) = delete;

    // Creates the threads once; a later call only returns the slot count. A thread that
    // cannot be created leaves its slot empty.
    uint32_t Start();

    // Queues a request without ever blocking. False, with the request still the caller's,
    // when it is null, the pool is not started or the queue already holds maxQueue.
    bool Submit(CThreadRequest* request);

    // Queues one pill per thread behind the pending requests and waits for the threads to
    // end. A request that is running is not interrupted: its owner asks it to stop before
    // calling this, and the wait lasts until it returns. While waiting, the calling thread
    // still handles messages sent to its windows, so a request blocked in a send to the
    // owner can finish.
    void Shutdown();

    bool IsStarted();

  private:
    void ThreadLoop();
    void Enqueue(CThreadRequest* request);

    const uint32_t maxQueue_;
    std::vector<std::thread> threads_;
    std::mutex lock_;
    std::condition_variable queueAccess_;
    std::deque<CThreadRequest*> queue_;
    bool started_ = false;
    uint32_t running_ = 0;  // threads whose loop has not ended
    platform::Event allEnded_{true, true};
};

}  // namespace DOWNANT
