// Runs downloads the way the launcher's workers do (a window of the test thread, a wait
// that pumps) and records what reached the window.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "download/http/auto_download_down_ant.h"
#include "download/http/down_ant.h"
#include "platform/messages.h"

namespace qg_test {

struct Observed {
    CAutoDownload* downloader = nullptr;
    std::vector<uint32_t> states;  // lParam of every WM_DOWNLOAD_STATE
    int progressMessages = 0;
    int64_t lastTotal = -1, lastDone = -1;
    bool stopOnFirstProgress = false;
};

// A window of the calling thread that records into `observed`.
class ObserverWindow {
  public:
    explicit ObserverWindow(Observed* observed);
    ~ObserverWindow();
    platform::WindowHandle Handle() const { return window_; }

  private:
    platform::WindowHandle window_;
};

// SetTask, Start, Wait(true) on `downloader` with a fresh observer window; returns what
// the window saw. The final state is downloader.GetState().
Observed RunDownload(CAutoDownload_DownAnt& downloader, const std::string& url,
                     const std::string& path, bool stopOnFirstProgress = false);

// Runs a transfer directly on the calling thread into `partPath`.
struct TransferRecord {
    std::vector<uint32_t> states;
    std::string lastMessage;
    bool sizeKnown = false;
    int64_t fileSize = 0;
    int64_t received = 0;
};
TransferRecord RunTransfer(const std::string& url, const std::string& partPath,
                           uint32_t noDataTimeoutSeconds);
TransferRecord RunTransfer(const std::string& url, const std::string& partPath,
                           const DOWNANT::TransferSettings& settings);

}  // namespace qg_test
