// Test support: a bounded wait for something the code under test should bring about (bytes
// arriving, a state changing, a file appearing). Polls the condition until it holds or
// the limit passes, so that a fault makes the test fail with a message instead of leaving
// the run stuck. The limit is a safety net, far above what the step takes: it never
// decides a passing test.
#pragma once

#include <chrono>
#include <thread>

namespace testing_support {

// The limit for steps that take seconds at most, sanitizers included.
inline constexpr std::chrono::seconds kStepLimit{120};

// True once `done()` holds; false when `limit` passed first. Between two polls it sleeps
// `pause`, or only yields with a pause of 0 (for a step the test must catch early).
template <class Done>
bool WaitUntil(Done done, std::chrono::milliseconds limit = kStepLimit,
               std::chrono::milliseconds pause = std::chrono::milliseconds(10)) {
    const auto giveUp = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= giveUp) return false;
        if (pause.count() == 0) {
            std::this_thread::yield();
        } else {
            std::this_thread::sleep_for(pause);
        }
    }
    return true;
}

}  // namespace testing_support
