#include "download/http/thread_pool.h"

#include <exception>
#include <system_error>

#include "platform/messages.h"

namespace DOWNANT {

void CThreadPool::SuicidePill::Execute(void*) { throw SuicideException(); }

CThreadPool::CThreadPool(uint32_t threadCount, uint32_t maxQueue)
    : maxQueue_(maxQueue), threads_(threadCount) {}

CThreadPool::~CThreadPool() {
    // Threads left running would outlive the queue they read from.
    Shutdown();
    for (CThreadRequest* request : queue_) delete request;
}

uint32_t CThreadPool::Start() {
    std::lock_guard<std::mutex> lock(lock_);
    if (!started_) {
        for (std::thread& slot : threads_) {
            try {
                ++running_;
                allEnded_.Reset();
                slot = std::thread([this] { ThreadLoop(); });
            } catch (const std::system_error&) {
                // The slot stays empty; the others still serve the queue.
                if (--running_ == 0) allEnded_.Set();
            }
        }
        started_ = true;
    }
    return static_cast<uint32_t>(threads_.size());
}

bool CThreadPool::IsStarted() {
    std::lock_guard<std::mutex> lock(lock_);
    return started_;
}

bool CThreadPool::Submit(CThreadRequest* request) {
    if (request == nullptr) return false;
    {
        // The bound is checked under the same lock that appends, so that racing submitters
        // can never push the queue past it.
        std::lock_guard<std::mutex> lock(lock_);
        if (!started_ || queue_.size() >= maxQueue_) return false;
        queue_.push_back(request);
    }
    queueAccess_.notify_one();
    return true;
}

void CThreadPool::Enqueue(CThreadRequest* request) {
    {
        std::lock_guard<std::mutex> lock(lock_);
        queue_.push_back(request);
    }
    queueAccess_.notify_one();
}

void CThreadPool::Shutdown() {
    uint32_t running = 0;
    {
        std::lock_guard<std::mutex> lock(lock_);
        if (!started_) return;
        started_ = false;
    }
    for (std::thread& slot : threads_) running += slot.joinable();
    // Pills pass the bound: a full queue must not leave a thread without its pill.
    for (uint32_t i = 0; i < running; ++i) Enqueue(new SuicidePill);
    platform::WaitHandlingSends(allEnded_);
    for (std::thread& slot : threads_) {
        if (slot.joinable()) slot.join();
    }
    // The slots stay, empty, for a later Start.
}

void CThreadPool::ThreadLoop() {
    ThreadRecord record{this, std::this_thread::get_id()};
    for (;;) {
        CThreadRequest* request;
        {
            std::unique_lock<std::mutex> lock(lock_);
            queueAccess_.wait(lock, [this] { return !queue_.empty(); });
            request = queue_.front();
            queue_.pop_front();
        }
        try {
            request->Execute(&record);
        } catch (const SuicideException&) {
            delete request;
            std::lock_guard<std::mutex> lock(lock_);
            if (--running_ == 0) allEnded_.Set();
            return;
        } catch (...) {
            // A failing request must not take the pool's thread with it.
        }
        delete request;
    }
}

}  // namespace DOWNANT
