#include "engine/upload_limiter.h"

#include <algorithm>

namespace engine {

UploadLimiter::UploadLimiter(uint64_t bytesPerSecond, uint64_t burst) {
    SetRate(bytesPerSecond, burst);
}

void UploadLimiter::SetRate(uint64_t bytesPerSecond, uint64_t burst) {
    rate_ = bytesPerSecond;
    burst_ = static_cast<double>(burst);
    tokens_ = std::min(tokens_, burst_);
}

UploadLimiter::Clock::time_point UploadLimiter::Reserve(uint64_t bytes, Clock::time_point now) {
    if (rate_ == 0) return now;
    if (!started_) {
        started_ = true;
        tokens_ = burst_;
        at_ = now;
    }
    if (now > at_) {
        const double seconds = std::chrono::duration<double>(now - at_).count();
        tokens_ = std::min(burst_, tokens_ + seconds * static_cast<double>(rate_));
        at_ = now;
    }
    // Later reservations queue behind the debt of the earlier ones.
    tokens_ -= static_cast<double>(bytes);
    if (tokens_ >= 0) return now;
    const double wait = -tokens_ / static_cast<double>(rate_);
    return at_ + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(wait));
}

}  // namespace engine
