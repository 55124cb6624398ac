#include "download/http/auto_download_down_ant.h"

CAutoDownload_DownAnt::CAutoDownload_DownAnt() : manager_(new DOWNANT::CDownManager) {}

CAutoDownload_DownAnt::~CAutoDownload_DownAnt() { DestroyManager(); }

void CAutoDownload_DownAnt::DestroyManager() {
    // No new messages from here on; one already on its way is still handled while the
    // manager waits for its transfer, because that wait serves sent messages.
    detached_.store(true);
    manager_->Stop(true);
    delete manager_;
    manager_ = nullptr;
}

uint32_t CAutoDownload_DownAnt::MapManagerState(uint32_t managerState) {
    switch (managerState) {
        case DOWNANT::MANAGER_READY:
            return DOWNLOAD_READY;
        case DOWNANT::MANAGER_BAD_ADDRESS:
            return DOWNLOAD_REFUSED;
        case DOWNANT::MANAGER_STARTED:
        case DOWNANT::MANAGER_LOOKING_UP:
            return DOWNLOAD_RUNNING;
        case DOWNANT::MANAGER_ASSEMBLING:
            return DOWNLOAD_COPYING;
        case DOWNANT::MANAGER_DONE:
            return DOWNLOAD_FINISHED;
        case DOWNANT::MANAGER_ASSEMBLE_FAILED:
            return DOWNLOAD_FAILED_COPY;
        case DOWNANT::MANAGER_TOO_LARGE:
            return DOWNLOAD_FAILED_TOO_LARGE;
        default:
            return DOWNLOAD_IDLE;
    }
}

uint32_t CAutoDownload_DownAnt::GetState() { return MapManagerState(manager_->State()); }

bool CAutoDownload_DownAnt::GetProgress(int64_t& total, int64_t& done) {
    if ((GetState() & kDownloadPhaseMask) == kDownloadPhaseIdle) return false;
    total = manager_->TotalSize();
    done = manager_->ReceivedEstimate();
    return total != 0;
}

uint32_t CAutoDownload_DownAnt::GetSpeed() { return manager_->Speed(); }

bool CAutoDownload_DownAnt::SetTask(const char* url, const char* localPath,
                                    platform::WindowHandle notifyWindow, uint32_t tag) {
    if ((GetState() & kDownloadPhaseMask) == kDownloadPhaseRunning) return false;
    task_->url = url ? url : "";
    task_->localPath = localPath ? localPath : "";
    task_->notifyWindow = notifyWindow;
    task_->tag = tag;
    manager_->SetTask(task_->url.c_str(), task_->localPath.c_str(),
                      &CAutoDownload_DownAnt::OnManagerEvent, this);
    task_->state.store(GetState());
    return true;
}

void CAutoDownload_DownAnt::Reset() {
    DestroyManager();
    manager_ = new DOWNANT::CDownManager;
    manager_->SetSettings(settings_);
    detached_.store(false);
    awaitingEnd_ = false;
    task_->state.store(GetState());
}

void CAutoDownload_DownAnt::Start() {
    if (task_->state.load() != DOWNLOAD_READY) return;
    lastProgress_ = {};
    awaitingEnd_ = true;
    manager_->Start(false);
    // Through SetStateAndNotify, never a plain store: the transfer may already have ended
    // and reported its state, and a plain store here would make that report look
    // unchanged to the next notification.
    SetStateAndNotify(GetState());
}

void CAutoDownload_DownAnt::Stop() {
    if ((GetState() & kDownloadPhaseMask) == kDownloadPhaseRunning) manager_->Stop(false);
    task_->state.store(DOWNLOAD_IDLE);
}

bool CAutoDownload_DownAnt::Wait(bool pumpMessages) {
    if (!pumpMessages) {
        const bool ended = manager_->Wait(false);
        if (ended) awaitingEnd_ = false;
        return ended;
    }
    // Only a started transfer ever signals its end; waiting without one (a refused task,
    // or a second wait) would never return. A transfer that has already ended is still
    // waited for, so that its last messages are handled before this returns.
    if (!awaitingEnd_) return true;
    awaitingEnd_ = false;
    return manager_->Wait(true);
}

void CAutoDownload_DownAnt::SetSizeLimit(int64_t maxBytes) {
    sizeLimit_ = maxBytes < 0 ? 0 : maxBytes;
    settings_.sizeLimit = sizeLimit_;
    manager_->SetSettings(settings_);
}

bool CAutoDownload_DownAnt::SetBodyObserver(IBodyObserver* observer) {
    settings_.bodyObserver = observer;
    manager_->SetSettings(settings_);
    return true;
}

void CAutoDownload_DownAnt::SetNoDataTimeout(uint32_t seconds) {
    settings_.noDataTimeoutSeconds = seconds;
    manager_->SetSettings(settings_);
}

void CAutoDownload_DownAnt::SetMinimumRate(uint32_t bytesPerSecond, uint32_t windowSeconds) {
    settings_.minimumBytesPerSecond = bytesPerSecond;
    settings_.minimumRateWindowSeconds = windowSeconds;
    manager_->SetSettings(settings_);
}

void CAutoDownload_DownAnt::SetCaFile(const std::string& pemPath) {
    settings_.caFile = pemPath;
    manager_->SetSettings(settings_);
}

void CAutoDownload_DownAnt::SetFileSystem(platform::IFileSystem* files) {
    settings_.fileSystem = files;
    manager_->SetSettings(settings_);
}

void CAutoDownload_DownAnt::SetProxy(const std::string& proxyUrl) {
    settings_.proxy = proxyUrl;
    manager_->SetSettings(settings_);
}

uint32_t CAutoDownload_DownAnt::OnManagerEvent(void* context, uint32_t kind, uintptr_t, uintptr_t) {
    auto* self = static_cast<CAutoDownload_DownAnt*>(context);
    if (self->detached_.load()) return 0;
    if (kind == DOWNANT::MANAGER_STATE_CHANGED) {
        self->SetStateAndNotify(self->GetState());
    } else if (kind == DOWNANT::MANAGER_PROGRESS &&
               self->task_->notifyWindow != platform::kNoWindow) {
        const auto now = std::chrono::steady_clock::now();
        if (self->lastProgress_ == std::chrono::steady_clock::time_point{} ||
            now - self->lastProgress_ >= kProgressInterval) {
            self->lastProgress_ = now;
            platform::SendMessage(self->task_->notifyWindow, WM_DOWNLOAD_PROGRESS, self->task_->tag,
                                  0);
        }
    }
    return 0;
}
