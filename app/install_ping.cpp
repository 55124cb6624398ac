#include "app/install_ping.h"

#include <chrono>
#include <memory>
#include <utility>

#include "download/create_downloader.h"
#include "platform/directory_tree.h"
#include "platform/file_lock.h"
#include "platform/file_system.h"
#include "platform/process.h"
#include "platform/text_file.h"
#include "platform/user_folders.h"

namespace {

constexpr size_t kLineChars = 31;
constexpr size_t kUrlMax = 1023;
// The reply is one word; a larger one is not from the counting server.
constexpr int64_t kReplyMax = 4096;
constexpr uint32_t kPollMs = 20;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

bool IsUnreserved(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '~';
}

}  // namespace

std::string ReadTrimmedFirstLine(std::string_view gbkPath) {
    std::string line;
    if (!platform::ReadFirstLine(gbkPath, kLineChars, line)) return std::string();
    size_t end = line.size();
    while (end > 0 && (IsBlank(line[end - 1]) || line[end - 1] == '\r' || line[end - 1] == '\n')) {
        --end;
    }
    size_t begin = 0;
    while (begin < end && IsBlank(line[begin])) ++begin;
    return line.substr(begin, end - begin);
}

std::string RegisterPingUrl(std::string_view registerUrl, std::string_view name) {
    // The name is escaped: "&", "#" or "=" in it would otherwise change the query.
    static const char kHex[] = "0123456789ABCDEF";
    std::string url(registerUrl);
    url += "?name=";
    for (unsigned char c : name) {
        if (IsUnreserved(c)) {
            url += static_cast<char>(c);
        } else {
            url += '%';
            url += kHex[c >> 4];
            url += kHex[c & 15];
        }
    }
    url += "&gameid=1";
    return url.size() <= kUrlMax ? url : std::string();
}

InstallRegisterPing::InstallRegisterPing(std::string registerUrl)
    : registerUrl_(std::move(registerUrl)) {}

InstallRegisterPing::~InstallRegisterPing() {
    stopping_ = true;
    if (thread_.joinable()) thread_.join();
}

bool InstallRegisterPing::Prepare() {
    name_ = ReadTrimmedFirstLine(kRegisterFileName);
    lockPath_ = platform::RuntimeFolder() + "/" + kRegisterLockName;
    return !name_.empty();
}

void InstallRegisterPing::StartThread() {
    if (name_.empty() || thread_.joinable()) return;
    thread_ = std::thread([this] { RegisterPingThread(); });
}

void InstallRegisterPing::RegisterPingThread() {
    if (name_.empty()) return;
    platform::FileLock lock;
    // Without a lock file (an unwritable folder) the report still goes; only another
    // launcher holding the lock stops it.
    if (lock.AcquireNative(lockPath_) == platform::FileLock::Result::Busy) return;

    const std::string url = RegisterPingUrl(registerUrl_, name_);
    if (url.empty()) return;
    std::unique_ptr<CAutoDownload> downloader = CreateDownloader(0);
    if (!downloader) return;
    // A private folder: a fixed name in a shared temporary folder could be planted.
    std::string folder;
    if (!platform::CreateUniqueTempDirectory("qg_register", folder)) return;
    const std::string replyPath = folder + "/(register).qadr";

    downloader->SetSizeLimit(kReplyMax);
    downloader->SetTask(url.c_str(), replyPath.c_str(), platform::kNoWindow, 0);
    if (downloader->GetState() != DOWNLOAD_READY) {  // an address the downloader refuses
        platform::RemoveDirectoryTree(folder);
        return;
    }
    downloader->Start();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs_);
    bool ended = false;
    while (!(ended = downloader->Wait(false)) && !stopping_ &&
           std::chrono::steady_clock::now() < deadline) {
        platform::SleepMilliseconds(kPollMs);
    }
    if (!ended) downloader->Stop();
    const bool finished =
        ended && (downloader->GetState() & kDownloadPhaseMask) == kDownloadPhaseFinished;
    downloader.reset();  // the transfer is over before its file goes

    const std::string reply = finished ? ReadTrimmedFirstLine(replyPath) : std::string();
    platform::RemoveDirectoryTree(folder);
    if (reply == "SUCCESS") platform::DeleteFileAt(kRegisterFileName);
}
