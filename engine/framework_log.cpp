#include "engine/framework_log.h"

#include <cstdarg>
#include <map>

#include "engine/log_format.h"
#include "platform/file.h"
#include "platform/native_path.h"
#include "platform/system_time.h"

namespace pxp {
namespace {

std::mutex namesLock;
std::map<uint64_t, std::string>& Names() {
    static std::map<uint64_t, std::string> names;
    return names;
}

// Found once per thread; a thread without a name looks again, since it may get one later.
thread_local std::string cachedName;

}  // namespace

void RegisterThreadName(const std::string& name) {
    const uint64_t id = platform::KernelThreadId();
    std::lock_guard<std::mutex> hold(namesLock);
    Names()[id] = name;
    cachedName = name;
}

std::string CurrentThreadName() {
    if (!cachedName.empty()) return cachedName;
    const uint64_t id = platform::KernelThreadId();
    {
        std::lock_guard<std::mutex> hold(namesLock);
        auto found = Names().find(id);
        if (found != Names().end()) return cachedName = found->second;
    }
    return "Thread " + std::to_string(id);
}

FrameworkLog::FrameworkLog(const std::string& target) {
    if (target == "null") return;
    if (target == "stdout") {
        toStdout_ = true;
        return;
    }
    std::string native;
    if (!platform::NativePath(target, native)) return;
    platform::IFileSystem& fs = platform::PosixFileSystem();
    uint64_t size = 0;
    bool isDirectory = false;
    if (fs.Stat(native, size, isDirectory) == 0 && !isDirectory) fs.Rename(native, native + ".bak");
    platform::AppendFile::Open(native, true, file_);
}

void FrameworkLog::Write(const char* label, const char* format, ...) {
    if (!toStdout_ && !file_) return;
    va_list args;
    va_start(args, format);
    const std::string text = engine::FormatLogText(format, args);
    va_end(args);
    const std::string line =
        engine::WithLineEnd(engine::FrameworkTimeStamp(platform::GetLocalTimeNow()) + "(" +
                                (label ? label : "") + ":" + CurrentThreadName() + ") " + text,
                            "\r\n");
    std::lock_guard<std::mutex> hold(lock_);
    if (toStdout_) {
        platform::WriteToStandardOutput(line);
    } else {
        file_->Append(line);
    }
}

}  // namespace pxp
