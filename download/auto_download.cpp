#include "download/auto_download.h"

CAutoDownload::CAutoDownload() : task_(new DownloadTask) {}

CAutoDownload::~CAutoDownload() { delete task_; }

void CAutoDownload::SetStateAndNotify(uint32_t code) {
    const uint32_t previous = task_->state.exchange(code);
    if (task_->notifyWindow != platform::kNoWindow && previous != code) {
        platform::SendMessage(task_->notifyWindow, WM_DOWNLOAD_STATE, task_->tag,
                              static_cast<intptr_t>(GetState()));
    }
}
