#include "download/tarn/auto_download_tarn.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "download/progress_format.h"
#include "download/tarn/engine_in_process.h"
#include "platform/machine_id.h"
#include "platform/registry.h"
#include "quillgate/tarn.h"

// Weak references: without the engine in the executable their addresses are null.
extern "C" {
__attribute__((weak)) int32_t TarnInitLibrary(void);
__attribute__((weak)) void TarnSetUserID(const char* userId);
__attribute__((weak)) void TarnSetIPCPort(uint32_t port);
__attribute__((weak)) TarnTask* CreateTarnTask(void);
__attribute__((weak)) int32_t DestroyTarnTask(TarnTask* task);
__attribute__((weak)) int32_t TarnSetCaller(TarnTask* task, const char* caller);
__attribute__((weak)) int32_t TarnSetCallback(TarnTask* task, uint64_t window, uint32_t value);
__attribute__((weak)) int32_t TarnSetBlockMessage(TarnTask* task, int32_t block);
__attribute__((weak)) int32_t TarnSetDownloadMode(TarnTask* task, uint32_t mode);
__attribute__((weak)) int32_t TarnDownloadUrl(TarnTask* task, const char* url, const char* referer,
                                              const char* fileName);
__attribute__((weak)) int32_t TarnCancelDownload(TarnTask* task);
__attribute__((weak)) int32_t TarnGetStatusInfo(TarnTask* task, void* out);
__attribute__((weak)) int32_t TarnWaitDownload(TarnTask* task);
__attribute__((weak)) int32_t TarnAddMirrors(TarnTask* task, const char* const* urls,
                                             int32_t count);
__attribute__((weak)) int32_t TarnSetBlockListUrl(TarnTask* task, const char* url,
                                                  const char* sha256);
__attribute__((weak)) int32_t TarnSetSizeLimit(TarnTask* task, int64_t bytes);
}

namespace {

bool EngineLinked() {
    return TarnInitLibrary && TarnSetUserID && TarnSetIPCPort && CreateTarnTask &&
           DestroyTarnTask && TarnSetCaller && TarnSetCallback && TarnSetBlockMessage &&
           TarnSetDownloadMode && TarnDownloadUrl && TarnCancelDownload && TarnGetStatusInfo &&
           TarnWaitDownload;
}

// The most mirrors the engine takes for one task.
constexpr size_t kMaxMirrors = 64;

bool IsHexDigest(const std::string& text) {
    if (text.size() != 64) return false;
    for (char c : text)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F')))
            return false;
    return true;
}

bool IsRunning(uint32_t state) { return (state & kDownloadPhaseMask) == kDownloadPhaseRunning; }

template <typename T>
T FieldAt(const unsigned char* block, size_t offset) {
    T value;
    std::memcpy(&value, block + offset, sizeof value);
    return value;
}

platform::SystemTime TimeAt(const unsigned char* block, size_t offset) {
    const auto t = FieldAt<TarnSystemTime>(block, offset);
    platform::SystemTime out;
    out.year = t.year;
    out.month = t.month;
    out.dayOfWeek = t.dayOfWeek;
    out.day = t.day;
    out.hour = t.hour;
    out.minute = t.minute;
    out.second = t.second;
    out.milliseconds = t.milliseconds;
    return out;
}

}  // namespace

CAutoDownload_Tarn::CAutoDownload_Tarn() {
    if (!EngineLinked() || !TarnInitLibrary()) return;
    // The outside engine service's port is needed only for its commit record, which this
    // downloader never sends: a program that uses the engine in-process does without it.
    if (!EngineInProcess()) {
        const auto port = platform::RegistryStore(platform::RegistryHive::LocalMachine)
                              .Read("Software\\VELKO\\p4p", "IPCPort");
        if (!port || port->type != platform::RegistryType::Dword) return;
        TarnSetIPCPort(port->number);
    }
    TarnSetUserID(platform::MachineIdText(platform::ComputeMachineId()).c_str());
    usable_ = true;
    SetStateAndNotify(DOWNLOAD_IDLE);
}

CAutoDownload_Tarn::~CAutoDownload_Tarn() {
    // Nobody listens any more: the caller is tearing us down.
    task_->notifyWindow = platform::kNoWindow;
    ReleaseEngineTask();
    if (window_ != platform::kNoWindow) platform::DestroyMessageWindow(window_);
}

uint32_t CAutoDownload_Tarn::MapEngineStatus(uint32_t status) {
    switch (status) {
        case TARN_STATUS_IDLE:
            return DOWNLOAD_READY;
        case TARN_STATUS_DOWNLOADING:
            return DOWNLOAD_ANNOUNCED;
        case TARN_STATUS_COMPLETED:
            return DOWNLOAD_FINISHED;
        case TARN_STATUS_PAUSED:
            return DOWNLOAD_FAILED_REASON2;
        default:
            return DOWNLOAD_FAILED;
    }
}

uint32_t CAutoDownload_Tarn::MapEndCode(intptr_t endCode) {
    switch (endCode) {
        case TARN_END_COMPLETED:
            return DOWNLOAD_FINISHED;
        case TARN_END_FAILED:
            return DOWNLOAD_FAILED_REASON1;
        case TARN_END_PAUSED:
            return DOWNLOAD_FAILED_REASON2;
        case 4:
            return DOWNLOAD_FAILED_COPY;
        default:
            return DOWNLOAD_FAILED;
    }
}

uint32_t CAutoDownload_Tarn::ComputeSpeed(int64_t done, uint32_t elapsedMs) {
    if (elapsedMs == 0 || done <= 0) return 0;
    // In floating point: done * 1000 overflows 64 bits for counts the engine may report.
    const double perSecond = static_cast<double>(done) * 1000.0 / elapsedMs;
    return perSecond >= static_cast<double>(std::numeric_limits<uint32_t>::max())
               ? std::numeric_limits<uint32_t>::max()
               : static_cast<uint32_t>(perSecond);
}

bool CAutoDownload_Tarn::GetProgress(int64_t& total, int64_t& done) {
    if ((GetState() & kDownloadPhaseMask) == kDownloadPhaseIdle) return false;
    total = total_.load();
    done = done_.load();
    return total != 0;
}

bool CAutoDownload_Tarn::SetTask(const char* url, const char* localPath,
                                 platform::WindowHandle notifyWindow, uint32_t tag) {
    if (!usable_) return false;
    if (window_ == platform::kNoWindow) {
        platform::RegisterWindowClass(kWindowClass, &WindowProcedure);
        window_ = platform::CreateMessageWindow(kWindowClass);
        platform::SetWindowUserData(window_, reinterpret_cast<intptr_t>(this));
    }
    // Only a running download keeps the task; a finished or failed one leaves room for the
    // next file, whose engine task replaces the old one.
    if (IsRunning(GetState())) return false;
    ReleaseEngineTask();
    mirrors_.clear();
    blockListSha256_.clear();
    task_->notifyWindow = notifyWindow;
    task_->tag = tag;
    const bool valid = url && *url && localPath && *localPath;
    task_->url = valid ? url : "";
    task_->localPath = valid ? localPath : "";
    total_ = 0;
    done_ = 0;
    speed_ = 0;
    SetStateAndNotify(valid ? DOWNLOAD_READY : DOWNLOAD_REFUSED);
    return true;
}

void CAutoDownload_Tarn::Start() {
    if (!usable_ || GetState() != DOWNLOAD_READY) return;
    doneEvent_ = std::make_unique<platform::Event>(true, false);
    ended_ = true;  // until a thread runs, no end message is owed
    engineTask_ = CreateTarnTask();
    bool started = engineTask_ != nullptr;
    if (started) {
        TarnSetCaller(engineTask_, "QADR");
        TarnSetCallback(engineTask_, static_cast<uint64_t>(window_), 0);
        TarnSetBlockMessage(engineTask_, 1);
        TarnSetDownloadMode(engineTask_, 2);
        started = HandOverSources();
        started = started && TarnDownloadUrl(engineTask_, task_->url.c_str(), "",
                                             task_->localPath.c_str()) != 0;
        ended_ = !started;
    }
    if (!started) {
        // No thread runs: nothing would ever end the wait.
        ReleaseEngineTask();
        doneEvent_->Set();
        SetStateAndNotify(DOWNLOAD_FAILED);
        return;
    }
    SetStateAndNotify(DOWNLOAD_RUNNING);
}

bool CAutoDownload_Tarn::SetMirrors(const std::vector<std::string>& urls) {
    if (!usable_ || !TarnAddMirrors || IsRunning(GetState())) return false;
    mirrors_.assign(urls.begin(), urls.begin() + std::min(urls.size(), kMaxMirrors));
    return true;
}

bool CAutoDownload_Tarn::SetBlockListSha256(const std::string& hex) {
    if (!usable_ || !TarnSetBlockListUrl || IsRunning(GetState()) || !IsHexDigest(hex))
        return false;
    blockListSha256_ = hex;
    return true;
}

bool CAutoDownload_Tarn::HandOverSources() {
    if (!mirrors_.empty()) {
        std::vector<const char*> urls;
        for (const std::string& url : mirrors_) urls.push_back(url.c_str());
        if (!TarnAddMirrors(engineTask_, urls.data(), static_cast<int32_t>(urls.size())))
            return false;
    }
    // No URL: the list is the one beside the file, which must then be there and match.
    if (!blockListSha256_.empty() &&
        !TarnSetBlockListUrl(engineTask_, "", blockListSha256_.c_str()))
        return false;
    return sizeLimit_ <= 0 || (TarnSetSizeLimit && TarnSetSizeLimit(engineTask_, sizeLimit_));
}

void CAutoDownload_Tarn::Stop() {
    if (engineTask_ && IsRunning(GetState())) TarnCancelDownload(engineTask_);
}

void CAutoDownload_Tarn::Reset() {
    ReleaseEngineTask();
    doneEvent_.reset();
    total_ = 0;
    done_ = 0;
    speed_ = 0;
    SetStateAndNotify(DOWNLOAD_IDLE);
}

bool CAutoDownload_Tarn::Wait(bool pumpMessages) {
    if (!IsRunning(GetState()) || !doneEvent_) return true;
    if (!pumpMessages) return doneEvent_->Wait(0);
    platform::WaitPumpingMessages(*doneEvent_);
    return true;
}

void CAutoDownload_Tarn::ReleaseEngineTask() {
    if (window_ != platform::kNoWindow) {
        platform::KillTimer(window_, kPollTimer);
        platform::KillTimer(window_, kReapTimer);
    }
    polling_ = false;
    if (!engineTask_) return;
    if (!ended_) {
        // The engine's thread ends only after its end message, which it sends to our
        // window: handle sends until it has arrived, or joining it would never return.
        TarnCancelDownload(engineTask_);
        endedEvent_.Reset();
        if (!ended_) platform::WaitHandlingSends(endedEvent_);
    }
    TarnWaitDownload(engineTask_);
    DestroyTarnTask(engineTask_);
    engineTask_ = nullptr;
    lastEngineStatus_ = 0;
    if (doneEvent_) doneEvent_->Set();
}

void CAutoDownload_Tarn::OnStarted() {
    if (ended_) return;
    SetStateAndNotify(DOWNLOAD_ANNOUNCED);
    // The engine repeats this message as data arrives; restarting the timer each time
    // would hold the poll off for as long as data keeps arriving.
    if (!polling_) polling_ = platform::SetTimer(window_, kPollTimer, kTimerPeriodMs);
}

void CAutoDownload_Tarn::OnEnded(intptr_t endCode) {
    ended_ = true;
    endedEvent_.Set();
    uint32_t state = MapEndCode(endCode);
    // A file longer than the cap is told apart, as the HTTP downloader tells it.
    unsigned char block[TARN_STATUS_BLOCK_SIZE] = {};
    if (endCode == TARN_END_FAILED && TarnGetStatusInfo(engineTask_, block) &&
        FieldAt<uint32_t>(block, TARN_STATUS_FAILURE_OFFSET) == TARN_FAILURE_SIZE_LIMIT)
        state = DOWNLOAD_FAILED_TOO_LARGE;
    SetStateAndNotify(state);
    platform::KillTimer(window_, kPollTimer);
    polling_ = false;
    platform::SetTimer(window_, kReapTimer, kTimerPeriodMs);
}

void CAutoDownload_Tarn::OnPoll() {
    if (!engineTask_) return;
    unsigned char block[TARN_STATUS_BLOCK_SIZE] = {};
    if (!TarnGetStatusInfo(engineTask_, block)) return;
    const auto status = FieldAt<uint32_t>(block, TARN_STATUS_STATE_OFFSET);
    if (status != lastEngineStatus_ && status < 5) {
        lastEngineStatus_ = status;
        SetStateAndNotify(MapEngineStatus(status));
    }
    const auto total = FieldAt<int64_t>(block, TARN_STATUS_TOTAL_OFFSET);
    const auto done = FieldAt<int64_t>(block, TARN_STATUS_RECEIVED_OFFSET);
    if (total == total_.load() && done == done_.load()) return;
    total_ = total;
    done_ = done;
    const uint32_t elapsed = ElapsedMilliseconds(platform::GetLocalTimeNow(),
                                                 TimeAt(block, TARN_STATUS_START_TIME_OFFSET));
    speed_ = ComputeSpeed(done, elapsed);
    if (task_->notifyWindow != platform::kNoWindow)
        platform::SendMessage(task_->notifyWindow, WM_DOWNLOAD_PROGRESS, task_->tag, 0);
}

void CAutoDownload_Tarn::OnReap() {
    platform::KillTimer(window_, kReapTimer);
    if (!engineTask_) return;
    TarnWaitDownload(engineTask_);
    if (doneEvent_) doneEvent_->Set();
}

intptr_t CAutoDownload_Tarn::WindowProcedure(platform::WindowHandle window, uint32_t message,
                                             uintptr_t wParam, intptr_t lParam) {
    auto* self = reinterpret_cast<CAutoDownload_Tarn*>(platform::GetWindowUserData(window));
    if (self && message < 0x2410) {
        if (message == kEngineStarted) {
            self->OnStarted();
        } else if (message == kEngineEnded) {
            self->OnEnded(lParam);
        } else if (message == platform::WM_TIMER && wParam == kPollTimer) {
            self->OnPoll();
        } else if (message == platform::WM_TIMER && wParam == kReapTimer) {
            self->OnReap();
        }
    }
    return platform::DefWindowProc(window, message, wParam, lParam);
}
