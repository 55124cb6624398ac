#include "download/tarn/tests/tarn_double.h"

#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

#include "platform/messages.h"
#include "quillgate/tarn.h"

struct TarnTask {
    std::mutex mutex;
    std::condition_variable changed;
    unsigned char status[TARN_STATUS_BLOCK_SIZE] = {};
    int polls = 0;
    bool cancelled = false;
    uint64_t window = 0;
    uint32_t value = 0;
    std::thread thread;
    std::vector<std::string> mirrors;
    std::string blockListSha256;
    int64_t sizeLimit = -1;
};

namespace tarn_double {
namespace {

std::mutex g_mutex;
Script g_script;
std::string g_userId;
uint32_t g_port = 0;
std::string g_url;
std::string g_fileName;
int g_liveTasks = 0;
std::vector<std::string> g_mirrors;
std::string g_blockListSha256;
int64_t g_sizeLimit = -1;
std::string g_lookupServer;
Sharing g_sharing;

template <typename T>
void Put(TarnTask* task, size_t offset, T value) {
    std::memcpy(task->status + offset, &value, sizeof value);
}

void Send(TarnTask* task, uint32_t message, intptr_t lParam) {
    platform::SendMessage(static_cast<platform::WindowHandle>(task->window), message, task->value,
                          lParam);
}

void Run(TarnTask* task, Script script) {
    {
        std::lock_guard lock(task->mutex);
        Put<int64_t>(task, TARN_STATUS_TOTAL_OFFSET, script.total);
        Put<int64_t>(task, TARN_STATUS_RECEIVED_OFFSET, script.done);
        Put<uint32_t>(task, TARN_STATUS_STATE_OFFSET, TARN_STATUS_DOWNLOADING);
    }
    Send(task, TARN_MSG_STARTED, 0);
    intptr_t code = script.endCode;
    {
        std::unique_lock lock(task->mutex);
        task->changed.wait(lock, [&] {
            return task->cancelled ||
                   (script.endAfterPolls >= 0 && task->polls >= script.endAfterPolls);
        });
        if (task->cancelled) code = TARN_END_FAILED;
        const uint32_t status = code == TARN_END_COMPLETED ? TARN_STATUS_COMPLETED
                                : code == TARN_END_PAUSED  ? TARN_STATUS_PAUSED
                                                           : TARN_STATUS_ENDED;
        Put<uint32_t>(task, TARN_STATUS_STATE_OFFSET, status);
        Put<uint32_t>(task, TARN_STATUS_FAILURE_OFFSET, script.failure);
    }
    Send(task, TARN_MSG_ENDED, code);
}

}  // namespace

void SetScript(const Script& script) {
    std::lock_guard lock(g_mutex);
    g_script = script;
}
std::string UserId() {
    std::lock_guard lock(g_mutex);
    return g_userId;
}
uint32_t IpcPort() {
    std::lock_guard lock(g_mutex);
    return g_port;
}
std::string LastUrl() {
    std::lock_guard lock(g_mutex);
    return g_url;
}
std::string LastFileName() {
    std::lock_guard lock(g_mutex);
    return g_fileName;
}
int LiveTasks() {
    std::lock_guard lock(g_mutex);
    return g_liveTasks;
}
std::vector<std::string> LastMirrors() {
    std::lock_guard lock(g_mutex);
    return g_mirrors;
}
std::string LastBlockListSha256() {
    std::lock_guard lock(g_mutex);
    return g_blockListSha256;
}
int64_t LastSizeLimit() {
    std::lock_guard lock(g_mutex);
    return g_sizeLimit;
}
std::string LookupServer() {
    std::lock_guard lock(g_mutex);
    return g_lookupServer;
}
Sharing SharingSettings() {
    std::lock_guard lock(g_mutex);
    return g_sharing;
}

}  // namespace tarn_double

using namespace tarn_double;

extern "C" {

int32_t TarnInitLibrary(void) { return 1; }
void TarnSetUserID(const char* userId) {
    std::lock_guard lock(g_mutex);
    g_userId = userId;
}
void TarnSetIPCPort(uint32_t port) {
    std::lock_guard lock(g_mutex);
    g_port = port;
}
uint32_t TarnGetPort(void) { return 0; }

TarnTask* CreateTarnTask(void) {
    std::lock_guard lock(g_mutex);
    ++g_liveTasks;
    return new TarnTask;
}
int32_t DestroyTarnTask(TarnTask* task) {
    if (!task) return 1;
    if (task->thread.joinable()) task->thread.join();
    delete task;
    std::lock_guard lock(g_mutex);
    --g_liveTasks;
    return 1;
}
int32_t TarnSetCaller(TarnTask*, const char*) { return 1; }
int32_t TarnSetCallback(TarnTask* task, uint64_t window, uint32_t value) {
    task->window = window;
    task->value = value;
    return 1;
}
int32_t TarnSetBlockMessage(TarnTask*, int32_t) { return 1; }
int32_t TarnSetDownloadMode(TarnTask*, uint32_t) { return 1; }
int32_t TarnSetPingback(TarnTask*, uint32_t) { return 1; }

int32_t TarnDownloadUrl(TarnTask* task, const char* url, const char*, const char* fileName) {
    Script script;
    {
        std::lock_guard lock(g_mutex);
        g_url = url;
        g_fileName = fileName;
        g_mirrors = task->mirrors;
        g_blockListSha256 = task->blockListSha256;
        g_sizeLimit = task->sizeLimit;
        script = g_script;
    }
    if (script.failDownloadCall) return 0;
    task->thread = std::thread(Run, task, script);
    return 1;
}
int32_t TarnResumeFile(TarnTask*, const char*) { return 0; }
int32_t TarnDownloadUrllist(TarnTask*, const char* const*, int32_t, const char*) { return 0; }
int32_t TarnSetFileName(TarnTask*, const char*) { return 0; }
int32_t TarnPauseDownload(TarnTask*) { return 0; }
int32_t TarnCancelDownload(TarnTask* task) {
    std::lock_guard lock(task->mutex);
    task->cancelled = true;
    task->changed.notify_all();
    return 1;
}
int32_t TarnPauseDownloadUrllist(TarnTask*) { return 1; }
int32_t TarnCancelDownloadUrllist(TarnTask*) { return 1; }

int32_t TarnGetStatusInfo(TarnTask* task, void* out) {
    std::lock_guard lock(task->mutex);
    std::memcpy(out, task->status, TARN_STATUS_BLOCK_SIZE);
    ++task->polls;
    task->changed.notify_all();
    return 1;
}
int32_t TarnCommitFile(TarnTask*, const char*, const char*) { return 1; }
int32_t TarnWaitDownload(TarnTask* task) {
    if (task->thread.joinable()) task->thread.join();
    return 1;
}
void TarnSetLookupServer(const char* hostAndPort) {
    std::lock_guard lock(g_mutex);
    g_lookupServer = hostAndPort ? hostAndPort : "";
}
int32_t TarnSetPeerListen(const char* address, uint16_t port) {
    std::lock_guard lock(g_mutex);
    g_sharing.listenAddress = address ? address : "";
    g_sharing.listenPort = port;
    return 1;
}
void TarnSetSeedSeconds(uint32_t seconds) {
    std::lock_guard lock(g_mutex);
    g_sharing.seedSeconds = seconds;
}
void TarnSetUploadLimit(uint32_t bytesPerSecond, uint32_t connections) {
    std::lock_guard lock(g_mutex);
    g_sharing.uploadBytesPerSecond = bytesPerSecond;
    g_sharing.uploadConnections = connections;
}
void TarnSetConnectionLimits(uint32_t, uint32_t) {}
int32_t TarnSetExpectedMD5(TarnTask*, const char*) { return 1; }
int32_t TarnAddMirrors(TarnTask* task, const char* const* urls, int32_t count) {
    for (int32_t i = 0; i < count; ++i) task->mirrors.emplace_back(urls[i]);
    return 1;
}
int32_t TarnSetBlockListUrl(TarnTask* task, const char* url, const char* sha256) {
    if (url && *url) return 0;  // the adapter only ever names the list beside the file
    task->blockListSha256 = sha256 ? sha256 : "";
    return 1;
}
int32_t TarnSetSizeLimit(TarnTask* task, int64_t bytes) {
    task->sizeLimit = bytes;
    return 1;
}
}
