// Test support: turns a hang into a failure. A test whose step may block for ever when the
// code under test is wrong (a deadlock, a wait nobody ends) keeps a guard for that step;
// when the step has not finished within the limit, the guard names it on stderr and ends
// the test binary, instead of leaving the run stuck. The limit is a safety net, far above
// what the step takes: it never decides a passing test.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

namespace testing_support {

class HangGuard {
  public:
    HangGuard(std::string what, std::chrono::seconds limit)
        : thread_([this, what = std::move(what), limit] {
              std::unique_lock<std::mutex> guard(lock_);
              if (!done_changed_.wait_for(guard, limit, [this] { return done_; })) {
                  std::fprintf(stderr, "hang: %s did not end within %lld s\n", what.c_str(),
                               static_cast<long long>(limit.count()));
                  std::fflush(stderr);
                  std::_Exit(97);
              }
          }) {}
    ~HangGuard() {
        {
            std::lock_guard<std::mutex> guard(lock_);
            done_ = true;
        }
        done_changed_.notify_all();
        thread_.join();
    }
    HangGuard(const HangGuard&) = delete;
    HangGuard& operator=(const HangGuard&) = delete;

  private:
    std::mutex lock_;
    std::condition_variable done_changed_;
    bool done_ = false;
    std::thread thread_;  // last: starts once the members above exist
};

}  // namespace testing_support
