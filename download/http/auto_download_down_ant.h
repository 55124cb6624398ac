// The HTTP backend of the downloader interface: a `DOWNANT::CDownManager` whose owner
// callback becomes WM_DOWNLOAD_STATE and WM_DOWNLOAD_PROGRESS messages.
#pragma once

#include <atomic>
#include <chrono>

#include "download/auto_download.h"
#include "download/http/down_manager.h"

// Progress messages are coalesced to one per `kProgressInterval` (the first always goes
// out): each is a synchronous round trip to the caller's thread, and the network
// delivers pieces far more often than a progress display can use them.
class CAutoDownload_DownAnt : public CAutoDownload {
  public:
    static constexpr std::chrono::milliseconds kProgressInterval{100};

    CAutoDownload_DownAnt();
    // Stops a running transfer and waits for it, handling messages sent to the calling
    // thread meanwhile.
    ~CAutoDownload_DownAnt() override;

    uint32_t GetKind() override { return 0; }
    uint32_t GetState() override;
    bool GetProgress(int64_t& total, int64_t& done) override;
    uint32_t GetSpeed() override;
    bool SetTask(const char* url, const char* localPath, platform::WindowHandle notifyWindow,
                 uint32_t tag) override;
    void Reset() override;
    void Start() override;
    void Stop() override;
    bool Wait(bool pumpMessages) override;
    void SetSizeLimit(int64_t maxBytes) override;
    int GetLocalError() override { return manager_->LocalError(); }
    bool SetBodyObserver(IBodyObserver* observer) override;

    // The manager's state code mapped to the interface's.
    static uint32_t MapManagerState(uint32_t managerState);

    // For tests and tools, kept across Reset: the no-data time-out of the transfers
    // (default 60 seconds); the rate floor (bytes per second over a window of seconds;
    // default in DOWNANT::TransferSettings); the certificate authorities to trust (a PEM
    // file; empty: the system's store); the proxy (empty: the environment's).
    void SetNoDataTimeout(uint32_t seconds);
    void SetMinimumRate(uint32_t bytesPerSecond, uint32_t windowSeconds);
    void SetCaFile(const std::string& pemPath);
    void SetProxy(const std::string& proxyUrl);
    // Where part files are written (null: the system); tests inject failures through it.
    void SetFileSystem(platform::IFileSystem* files);
    DOWNANT::CDownManager& Manager() { return *manager_; }

  private:
    static uint32_t OnManagerEvent(void* context, uint32_t kind, uintptr_t a, uintptr_t b);
    void DestroyManager();

    DOWNANT::CDownManager* manager_;
    std::atomic<bool> detached_{false};  // set while the manager goes: no more messages
    std::chrono::steady_clock::time_point lastProgress_{};  // pool thread only
    DOWNANT::TransferSettings settings_;
    bool awaitingEnd_ = false;  // started, and its end not yet waited for
};
