#include "engine/log_sinks.h"

#include "platform/native_path.h"

namespace engine {

FileLogger::FileLogger(const std::string& gbkPath) {
    if (gbkPath == "stdout") {
        toStdout_ = true;
        return;
    }
    std::string native;
    if (!platform::NativePath(gbkPath, native)) return;
    platform::AppendFile::Open(native, false, file_);
}

void FileLogger::Write(std::string_view text) {
    if (toStdout_) {
        platform::WriteToStandardOutput(text);
    } else if (file_) {
        file_->Append(text);
    }
}

void ConsoleLogger::Write(std::string_view text) { platform::WriteToStandardOutput(text); }

void DebugLogger::Write(std::string_view text) { platform::WriteToStandardError(text); }

}  // namespace engine
