// The thread framework's own log: one line per call,
//   "[yyyy-mm-dd hh:mm:ss.mmm](LABEL:THREAD) TEXT\r\n"
// where LABEL is the caller's (the part of the engine that writes) and THREAD the name
// registered for the writing thread, else "Thread " and its id in decimal.
//
// Targets: "null" (nothing), "stdout" (the console), any other text a file, created anew;
// an existing file of that name is first moved to the name plus ".bak", so the previous
// run stays readable.
//
// Thread safety: Write may be called from any thread; lines are written whole under the
// log's lock. Thread names may be registered from any thread.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "platform/log_output.h"

namespace pxp {

class FrameworkLog {
  public:
    explicit FrameworkLog(const std::string& target);
    FrameworkLog(const FrameworkLog&) = delete;
    FrameworkLog& operator=(const FrameworkLog&) = delete;

    void Write(const char* label, const char* format, ...) __attribute__((format(printf, 3, 4)));

  private:
    std::mutex lock_;
    bool toStdout_ = false;
    std::unique_ptr<platform::AppendFile> file_;  // none for "null" or a file not opened
};

// Names the calling thread in the framework log's lines.
void RegisterThreadName(const std::string& name);
// The calling thread's registered name, or "Thread " + its id.
std::string CurrentThreadName();

}  // namespace pxp
