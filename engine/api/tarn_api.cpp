// The C functions: thin shells over TarnTask and the process settings.
#include <cstring>
#include <mutex>
#include <string>

#include "engine/logger.h"
#include "platform/registry.h"
#include "platform/tcp_socket.h"
#include "quillgate/tarn.h"
#include "tarn_peers.h"
#include "tarn_sharing.h"
#include "tarn_task.h"

namespace {

constexpr const char* kSettingsKey = "Software\\velko\\p2p";
// The value is read into a buffer of this size (with its terminating NUL); a longer one
// does not fit and counts as absent.
constexpr size_t kLogFileNameBuffer = 1024;
constexpr uint32_t kCommitTimeoutMs = 5000;
constexpr size_t kMaxText = 4096;  // longest text a caller may hand over

std::mutex gSettingsLock;
tarn::ProcessSettings gSettings;  // guarded by gSettingsLock

std::string Text(const char* text) {
    if (!text) return "";
    return std::string(text, strnlen(text, kMaxText));
}

bool IsHexDigest(const std::string& md5) {
    if (md5.size() != 32) return false;
    for (char c : md5) {
        if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
    }
    return true;
}

// Starts a download of `role` after the caller's fields have been set under the lock.
int32_t Begin(TarnTask* task, int32_t role) { return task->Launch(role) ? 1 : 0; }

// Stores one of the task's set-up values under its lock.
template <typename T, typename V>
int32_t SetField(TarnTask* task, T TarnTask::*field, V value) {
    if (!task) return 0;
    std::lock_guard<std::mutex> guard(task->lock);
    task->*field = static_cast<T>(value);
    return 1;
}

bool Idle(TarnTask* task) { return task->threadId.load() == 0; }

}  // namespace

namespace tarn {
ProcessSettings CurrentSettings() {
    std::lock_guard<std::mutex> guard(gSettingsLock);
    return gSettings;
}
}  // namespace tarn

extern "C" {

int32_t TarnInitLibrary(void) {
    engine::Logger::Instance().Configure("null");
    return 1;
}

void TarnSetUserID(const char* userId) {
    std::lock_guard<std::mutex> guard(gSettingsLock);
    gSettings.userId = Text(userId);
}

void TarnSetIPCPort(uint32_t port) {
    std::lock_guard<std::mutex> guard(gSettingsLock);
    gSettings.ipcPort = port;
}

uint32_t TarnGetPort(void) { return BlockServerPort(); }

void TarnSetLookupServer(const char* hostAndPort) {
    std::lock_guard<std::mutex> guard(gSettingsLock);
    gSettings.lookupServer = Text(hostAndPort);
}

void TarnSetConnectionLimits(uint32_t perSource, uint32_t inAll) {
    std::lock_guard<std::mutex> guard(gSettingsLock);
    // A limit beyond what any machine could open is a caller's mistake, not a request.
    if (perSource > 0) gSettings.perSource = perSource > 64 ? 64 : perSource;
    if (inAll > 0) gSettings.inAll = inAll > 256 ? 256 : inAll;
}

static_assert(TARN_SEED_WHILE_RUNNING == tarn::kSeedWhileTheProcessLives);
static_assert(TARN_UPLOAD_UNLIMITED == tarn::kUploadUnlimited);

int32_t TarnSetPeerListen(const char* address, uint16_t port) {
    return tarn::Sharing::Instance().SetListen(Text(address), port) ? 1 : 0;
}

void TarnSetSeedSeconds(uint32_t seconds) { tarn::Sharing::Instance().SetSeedSeconds(seconds); }

void TarnSetUploadLimit(uint32_t bytesPerSecond, uint32_t connections) {
    tarn::Sharing::Instance().SetUploadLimit(bytesPerSecond, connections);
}

uint32_t TarnGetSeedingCount(void) { return tarn::Sharing::Instance().SeedingCount(); }

// Each new task reads the log target again, so that a changed setting takes effect for the
// tasks created after it.
TarnTask* CreateTarnTask(void) {
    platform::RegistryStore store(platform::RegistryHive::LocalMachine);
    const auto value = store.Read(kSettingsKey, "LogFileName");
    std::string target = "null";
    if (value && value->type == platform::RegistryType::String && !value->text.empty() &&
        value->text.size() < kLogFileNameBuffer) {
        target = value->text;
    }
    engine::Logger::Instance().Configure(target);
    return new TarnTask();
}

int32_t DestroyTarnTask(TarnTask* task) {
    if (!task) return 1;
    intptr_t ignored = 0;
    task->Call(tarn::kMsgCancel, 0, 0, ignored);
    task->Wait();
    delete task;
    return 1;
}

int32_t TarnSetCaller(TarnTask* task, const char* caller) {
    if (!task) return 0;
    std::lock_guard<std::mutex> guard(task->lock);
    task->caller = Text(caller);
    return 1;
}

int32_t TarnSetCallback(TarnTask* task, uint64_t window, uint32_t value) {
    if (!task) return 0;
    std::lock_guard<std::mutex> guard(task->lock);
    task->window = window;
    task->callbackValue = value;
    return 1;
}

int32_t TarnSetBlockMessage(TarnTask* task, int32_t block) {
    return SetField(task, &TarnTask::blockMessages, block != 0);
}

int32_t TarnSetDownloadMode(TarnTask* task, uint32_t mode) {
    return SetField(task, &TarnTask::downloadMode, mode);
}

// Accepted for the callers written against the interface; this engine sends no statistics
// reports, which the value would steer.
int32_t TarnSetPingback(TarnTask* task, uint32_t pingback) {
    (void)pingback;
    return task ? 1 : 0;
}

int32_t TarnSetExpectedMD5(TarnTask* task, const char* md5) {
    if (!task) return 0;
    const std::string digest = Text(md5);
    if (!digest.empty() && !IsHexDigest(digest)) return 0;
    std::lock_guard<std::mutex> guard(task->lock);
    task->md5 = digest;
    return 1;
}

int32_t TarnAddMirrors(TarnTask* task, const char* const* urls, int32_t count) {
    if (!task || count < 0 || (count > 0 && !urls)) return 0;
    std::lock_guard<std::mutex> guard(task->lock);
    if (task->mirrors.size() + static_cast<size_t>(count) > 64) return 0;
    for (int32_t i = 0; i < count; ++i) {
        if (urls[i] && *urls[i]) task->mirrors.emplace_back(urls[i]);
    }
    return 1;
}

int32_t TarnDownloadUrl(TarnTask* task, const char* url, const char* referer,
                        const char* fileName) {
    if (!task || !url || !*url || !fileName || !*fileName || !Idle(task)) return 0;
    {
        std::lock_guard<std::mutex> guard(task->lock);
        task->urls = {Text(url)};
        task->referer = Text(referer);
        task->fileName = Text(fileName);
        task->resume = false;
    }
    return Begin(task, tarn::kRoleDownload);
}

int32_t TarnResumeFile(TarnTask* task, const char* fileName) {
    if (!task || !fileName || !*fileName || !Idle(task)) return 0;
    {
        std::lock_guard<std::mutex> guard(task->lock);
        task->urls.clear();
        task->referer.clear();
        task->fileName = Text(fileName);
        task->resume = true;
    }
    return Begin(task, tarn::kRoleDownload);
}

int32_t TarnDownloadUrllist(TarnTask* task, const char* const* urls, int32_t count,
                            const char* fileName) {
    if (!task || !urls || count <= 0 || count > 1024 || !fileName || !*fileName || !Idle(task)) {
        return 0;
    }
    std::vector<std::string> list;
    for (int32_t i = 0; i < count; ++i) {
        if (urls[i] && *urls[i]) list.push_back(Text(urls[i]));
    }
    if (list.empty()) return 0;
    {
        std::lock_guard<std::mutex> guard(task->lock);
        task->urls = std::move(list);
        task->referer.clear();
        task->fileName = Text(fileName);
        task->resume = false;
    }
    return Begin(task, tarn::kRoleList);
}

int32_t TarnSetFileName(TarnTask* task, const char* fileName) {
    if (!task || !fileName || !*fileName) return 0;
    if (Idle(task)) {
        std::lock_guard<std::mutex> guard(task->lock);
        task->fileName = Text(fileName);
        return 1;
    }
    // A running download keeps its file: the thread refuses the change unless idle. The
    // name stays here; the thread copies it while this call waits.
    const std::string name = Text(fileName);
    intptr_t result = 0;
    if (!task->Call(tarn::kMsgSetFileName, 0, reinterpret_cast<intptr_t>(&name), result)) {
        // The thread ended meanwhile: the task is idle now.
        std::lock_guard<std::mutex> guard(task->lock);
        task->fileName = name;
        return 1;
    }
    return result ? 1 : 0;
}

int32_t TarnPauseDownload(TarnTask* task) {
    if (!task || task->role.load() != tarn::kRoleDownload) return 0;
    return platform::PostThreadMessage(task->threadId.load(), tarn::kMsgPause, 0, 0) ? 1 : 0;
}

// True also when nothing runs: there is nothing left to cancel.
int32_t TarnCancelDownload(TarnTask* task) {
    if (!task) return 0;
    if (!Idle(task)) platform::PostThreadMessage(task->threadId.load(), tarn::kMsgCancel, 0, 0);
    return 1;
}

// A list download's current URL runs as its sub-download: paused as TarnPauseDownload pauses
// a single one. True when no list download runs.
int32_t TarnPauseDownloadUrllist(TarnTask* task) {
    if (!task) return 0;
    if (task->role.load() != tarn::kRoleList) return 1;
    return platform::PostThreadMessage(task->threadId.load(), tarn::kMsgPause, 0, 0) ? 1 : 0;
}

int32_t TarnCancelDownloadUrllist(TarnTask* task) { return TarnCancelDownload(task); }

int32_t TarnGetStatusInfo(TarnTask* task, void* out) {
    if (!task || !out) return 0;
    std::lock_guard<std::mutex> guard(task->lock);
    std::memcpy(out, task->status, TARN_STATUS_BLOCK_SIZE);
    return 1;
}

int32_t TarnCommitFile(TarnTask* task, const char* fileName, const char* md5) {
    (void)task;
    const std::string name = Text(fileName);
    const std::string digest = Text(md5);
    engine::Logger::Instance().Log(engine::kLogLevelInfo, "filename: %s", name.c_str());
    engine::Logger::Instance().Log(engine::kLogLevelInfo, "md5: %s", digest.c_str());
    const uint32_t port = tarn::CurrentSettings().ipcPort;
    if (port == 0 || port > 65535) return 0;
    platform::TcpSocket socket;
    if (!socket.Connect("127.0.0.1", static_cast<uint16_t>(port), kCommitTimeoutMs).ok()) return 0;
    const std::string record = name + "\r\n" + digest + "\r\n" + "\r\n" + "3\r\n";
    return socket.SendAll(record, kCommitTimeoutMs).ok() ? 1 : 0;
}

int32_t TarnWaitDownload(TarnTask* task) {
    if (!task) return 0;
    task->Wait();
    return 1;
}

}  // extern "C"
