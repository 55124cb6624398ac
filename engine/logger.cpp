#include "engine/logger.h"

#include <cstdarg>

#include "engine/log_format.h"
#include "platform/log_output.h"
#include "platform/system_time.h"

namespace engine {

Logger& Logger::Instance() {
    static Logger logger;
    return logger;
}

std::string Logger::SetTarget(const std::string& target) {
    std::lock_guard<std::mutex> hold(lock_);
    std::string previous = target_;
    target_ = target;
    return previous;
}

uint32_t Logger::SetOutputKind(uint32_t kind) {
    std::lock_guard<std::mutex> hold(lock_);
    const uint32_t previous = outputKind_.exchange(kind);
    // The new sink takes over in one step: a line logged meanwhile goes to the old one
    // rather than being lost.
    std::unique_ptr<LogSink> sink;
    std::string fileName;
    switch (kind) {
        case static_cast<uint32_t>(LogOutputKind::Debug):
            sink = std::make_unique<DebugLogger>();
            break;
        case static_cast<uint32_t>(LogOutputKind::Console):
            sink = std::make_unique<ConsoleLogger>();
            break;
        case static_cast<uint32_t>(LogOutputKind::ByTarget):
            if (target_ == "debugstring") {
                sink = std::make_unique<DebugLogger>();
            } else if (target_ == "stdout") {
                sink = std::make_unique<ConsoleLogger>();
            } else if (target_ == "random") {
                if (platform::CreateUniqueTempFile("log", ".log", fileName)) {
                    sink = std::make_unique<FileLogger>(fileName);
                }
            } else if (target_ != "null" && !target_.empty()) {
                fileName = target_;
                sink = std::make_unique<FileLogger>(target_);
            }
            break;
        default:
            break;
    }
    sink_ = std::move(sink);
    fileName_ = std::move(fileName);
    hasSink_ = sink_ != nullptr;
    return previous;
}

uint32_t Logger::SetLevel(uint32_t level) { return level_.exchange(level); }

uint32_t Logger::SetFilterMode(uint32_t mode) { return filterMode_.exchange(mode); }

uint32_t Logger::SetFlags(uint32_t flags) { return flags_.exchange(flags); }

std::string Logger::FileName() const {
    std::lock_guard<std::mutex> hold(lock_);
    return fileName_;
}

void Logger::Configure(const std::string& target) {
    SetTarget(target);
    SetFilterMode(static_cast<uint32_t>(LogFilterMode::Threshold));
    SetLevel(kLogLevelInfo);
    SetFlags(kCrLfLineEnd | kHoldLockWhileFormatting);
    SetOutputKind(static_cast<uint32_t>(LogOutputKind::ByTarget));
}

bool Logger::Passes(uint32_t level) const {
    if (!hasSink_) return false;
    switch (filterMode_.load()) {
        case static_cast<uint32_t>(LogFilterMode::Threshold):
            return level >= level_.load();
        case static_cast<uint32_t>(LogFilterMode::Mask):
            return (level & level_.load()) != 0;
        default:
            return false;
    }
}

void Logger::LogV(uint32_t level, const char* format, va_list args) {
    if (!Passes(level)) return;
    const uint32_t flags = flags_.load();
    std::unique_lock<std::mutex> hold(lock_, std::defer_lock);
    if (flags & kHoldLockWhileFormatting) hold.lock();

    std::string line = FormatLogText(format, args);
    if (!(flags & kNoPrefix)) {
        char thread[32];
        std::snprintf(thread, sizeof thread, "(%llx) ",
                      static_cast<unsigned long long>(platform::KernelThreadId()));
        line = LogTimeStamp(platform::GetLocalTimeNow()) + thread + line;
        if (line.size() > kLogTextLimit - 1) line.resize(kLogTextLimit - 1);
    }
    if (flags & kCrLfLineEnd) line = WithLineEnd(std::move(line), "\r\n");

    // The sink is written under the lock in every case: it may be replaced at any time.
    if (!hold.owns_lock()) hold.lock();
    if (sink_) sink_->Write(line);
}

void Logger::Log(uint32_t level, const char* format, ...) {
    va_list args;
    va_start(args, format);
    LogV(level, format, args);
    va_end(args);
}

void Logger::LogAll(const char* format, ...) {
    va_list args;
    va_start(args, format);
    LogV(kLogLevelAll, format, args);
    va_end(args);
}

}  // namespace engine
