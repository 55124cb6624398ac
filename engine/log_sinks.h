// Where the engine's log lines go. Each sink takes whole texts; failures to write are
// dropped (a log must never stop a download).
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "platform/log_output.h"

namespace engine {

class LogSink {
  public:
    virtual ~LogSink() = default;
    virtual void Write(std::string_view text) = 0;
};

// Appends to a file, created when missing. The name "stdout" means the standard output.
class FileLogger final : public LogSink {
  public:
    // `gbkPath` names the file; IsOpen() tells whether it could be opened.
    explicit FileLogger(const std::string& gbkPath);
    bool IsOpen() const { return toStdout_ || file_ != nullptr; }
    void Write(std::string_view text) override;

  private:
    bool toStdout_ = false;
    std::unique_ptr<platform::AppendFile> file_;
};

// The standard output (the process's console).
class ConsoleLogger final : public LogSink {
  public:
    void Write(std::string_view text) override;
};

// The diagnostic stream a debugger or the terminal shows: the standard error.
class DebugLogger final : public LogSink {
  public:
    void Write(std::string_view text) override;
};

}  // namespace engine
