// The upload rate on a made-up clock: senders that each send a chunk when they are allowed
// to never get more out than the burst plus the rate, and together they get the whole rate.
#include "engine/upload_limiter.h"

#include <gtest/gtest.h>

#include <vector>

namespace engine {
namespace {

using Clock = UploadLimiter::Clock;
using std::chrono::milliseconds;

TEST(UploadLimiter, WithoutARateEverythingGoesAtOnce) {
    UploadLimiter limiter;
    const Clock::time_point now{};
    EXPECT_EQ(limiter.Reserve(1 << 30, now), now);
    EXPECT_EQ(limiter.Reserve(1 << 30, now), now);
}

TEST(UploadLimiter, TheBurstGoesAtOnceThenTheRate) {
    UploadLimiter limiter(1000, 500);
    const Clock::time_point start{};
    EXPECT_EQ(limiter.Reserve(500, start), start);
    EXPECT_EQ(limiter.Reserve(250, start), start + milliseconds(250));
    EXPECT_EQ(limiter.Reserve(250, start), start + milliseconds(500));
    // A quiet second refills no more than the burst.
    const Clock::time_point later = start + milliseconds(5000);
    EXPECT_EQ(limiter.Reserve(500, later), later);
    EXPECT_EQ(limiter.Reserve(100, later), later + milliseconds(100));
    // Another rate, and another burst, once it is set.
    limiter.SetRate(100, 100);
    const Clock::time_point quiet = later + std::chrono::seconds(10);
    EXPECT_EQ(limiter.Reserve(150, quiet), quiet + milliseconds(500));
}

TEST(UploadLimiter, SendersSharingTheRateGetItAllAndNoMore) {
    constexpr uint64_t kRate = 1 << 20, kBurst = 256 << 10, kChunk = 16 << 10;
    UploadLimiter limiter(kRate, kBurst);
    const Clock::time_point start{};
    // Eight senders; each sends its next chunk at the time its reservation names.
    std::vector<Clock::time_point> next(8, start);
    std::vector<std::pair<Clock::time_point, uint64_t>> sent;
    const Clock::time_point end = start + std::chrono::seconds(20);
    for (;;) {
        size_t who = 0;
        for (size_t i = 1; i < next.size(); ++i)
            if (next[i] < next[who]) who = i;
        if (next[who] >= end) break;
        const Clock::time_point at = limiter.Reserve(kChunk, next[who]);
        ASSERT_GE(at, next[who]);
        sent.emplace_back(at, kChunk);
        next[who] = at;
    }
    uint64_t total = 0;
    for (const auto& [at, bytes] : sent) {
        total += bytes;
        const double seconds = std::chrono::duration<double>(at - start).count();
        ASSERT_LE(total, kBurst + kRate * seconds + 1) << seconds;
    }
    EXPECT_GE(total, kBurst + kRate * 20 - 8 * kChunk);
}

}  // namespace
}  // namespace engine
