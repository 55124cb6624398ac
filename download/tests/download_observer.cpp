#include "download/tests/download_observer.h"

namespace qg_test {
namespace {

intptr_t ObserverProc(platform::WindowHandle window, uint32_t message, uintptr_t wParam,
                      intptr_t lParam) {
    auto* observed = reinterpret_cast<Observed*>(platform::GetWindowUserData(window));
    if (observed == nullptr) return platform::DefWindowProc(window, message, wParam, lParam);
    if (message == WM_DOWNLOAD_STATE) {
        observed->states.push_back(static_cast<uint32_t>(lParam));
        return 1;
    }
    if (message == WM_DOWNLOAD_PROGRESS) {
        ++observed->progressMessages;
        observed->downloader->GetProgress(observed->lastTotal, observed->lastDone);
        if (observed->stopOnFirstProgress) observed->downloader->Stop();
        return 1;
    }
    return platform::DefWindowProc(window, message, wParam, lParam);
}

uint32_t RecordTransfer(void* context, DOWNANT::CDownAnt* transfer) {
    auto* record = static_cast<TransferRecord*>(context);
    record->states.push_back(transfer->State());
    record->lastMessage = transfer->Message();
    return DOWNANT::OWNER_GO_ON;
}

}  // namespace

ObserverWindow::ObserverWindow(Observed* observed) {
    platform::RegisterWindowClass("QG_TEST_DOWNLOAD_OBSERVER", ObserverProc);
    window_ = platform::CreateMessageWindow("QG_TEST_DOWNLOAD_OBSERVER");
    platform::SetWindowUserData(window_, reinterpret_cast<intptr_t>(observed));
}

ObserverWindow::~ObserverWindow() { platform::DestroyMessageWindow(window_); }

Observed RunDownload(CAutoDownload_DownAnt& downloader, const std::string& url,
                     const std::string& path, bool stopOnFirstProgress) {
    Observed observed;
    observed.downloader = &downloader;
    observed.stopOnFirstProgress = stopOnFirstProgress;
    ObserverWindow window(&observed);
    downloader.SetTask(url.c_str(), path.c_str(), window.Handle(), 7);
    downloader.Start();
    downloader.Wait(true);
    return observed;
}

TransferRecord RunTransfer(const std::string& url, const std::string& partPath,
                           uint32_t noDataTimeoutSeconds) {
    DOWNANT::TransferSettings settings;
    settings.noDataTimeoutSeconds = noDataTimeoutSeconds;
    return RunTransfer(url, partPath, settings);
}

TransferRecord RunTransfer(const std::string& url, const std::string& partPath,
                           const DOWNANT::TransferSettings& settings) {
    TransferRecord record;
    auto* transfer = new DOWNANT::CDownAnt(0);
    transfer->SetSettings(settings);
    transfer->SetTask(url.c_str(), partPath.c_str(), RecordTransfer, &record);
    transfer->Execute(nullptr);
    record.sizeKnown = transfer->SizeKnown();
    record.fileSize = transfer->FileSize();
    record.received = transfer->Received();
    delete transfer;
    return record;
}

}  // namespace qg_test
