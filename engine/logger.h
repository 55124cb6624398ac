// The engine's process-wide diagnostic log: a level filter, an optional time and thread
// prefix, and a replaceable sink chosen by a target text.
//
// Targets: "null" (nothing, no file), "stdout" (the console), "debugstring" (the debug
// stream), "random" (a new file "log??????.log" in the temporary directory), any other
// text: a file of that name, appended to.
//
// Thread safety: every method may be called from any thread. The sink is replaced and
// written under one lock, so a line is never cut by another line or by a sink change;
// with kHoldLockWhileFormatting the formatting is serialised too.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "engine/log_sinks.h"

namespace engine {

enum LoggerFlags : uint32_t {
    kNoPrefix = 1u << 0,                  // no "[Mon dd hh:mm:ss] (tid) " before the text
    kCrLfLineEnd = 1u << 1,               // end each text with "\r\n"
    kHoldLockWhileFormatting = 1u << 24,  // format under the lock too
};

enum class LogOutputKind : uint32_t { Debug = 0, ByTarget = 1, Console = 2 };

enum class LogFilterMode : uint32_t { Threshold = 1, Mask = 2 };

inline constexpr uint32_t kLogLevelInfo = 1;          // progress and information
inline constexpr uint32_t kLogLevelFileError = 4;     // failed file operations
inline constexpr uint32_t kLogLevelInvalidState = 8;  // a message in the wrong state
inline constexpr uint32_t kLogLevelAll = 32767;       // LogAll

class Logger {
  public:
    Logger() = default;
    Logger(const Logger&) = delete;
    Logger& operator=(const Logger&) = delete;

    // The one logger of the process.
    static Logger& Instance();

    // Stores the target text (the sink follows at the next SetOutputKind); returns the
    // previous one.
    std::string SetTarget(const std::string& target);
    // Rebuilds the sink for `kind` (and, for ByTarget, the target text); any other value
    // leaves no sink. Returns the previous kind.
    uint32_t SetOutputKind(uint32_t kind);
    uint32_t SetLevel(uint32_t level);
    // 1 threshold, 2 mask; any other value drops everything.
    uint32_t SetFilterMode(uint32_t mode);
    uint32_t SetFlags(uint32_t flags);

    // The file name in use: the target, or the generated name for "random"; empty when
    // the sink is not a file.
    std::string FileName() const;

    // The engine's own set-up for a target: output by target, threshold 1, CR LF line
    // ends and formatting under the lock.
    void Configure(const std::string& target);

    void Log(uint32_t level, const char* format, ...) __attribute__((format(printf, 3, 4)));
    void LogAll(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void LogV(uint32_t level, const char* format, va_list args);

  private:
    bool Passes(uint32_t level) const;

    mutable std::mutex lock_;
    std::atomic<uint32_t> flags_{0};
    std::atomic<uint32_t> outputKind_{static_cast<uint32_t>(LogOutputKind::ByTarget)};
    std::atomic<uint32_t> level_{1};
    std::atomic<uint32_t> filterMode_{static_cast<uint32_t>(LogFilterMode::Threshold)};
    std::atomic<bool> hasSink_{false};
    std::unique_ptr<LogSink> sink_;  // guarded by lock_
    std::string target_ = "null";    // guarded by lock_
    std::string fileName_;           // guarded by lock_
};

}  // namespace engine
