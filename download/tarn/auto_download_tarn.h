// The engine backend of the downloader interface: one task of the peer-assisted download
// engine, driven through its flat C interface. A hidden window on the caller's thread
// receives the engine's two notifications and runs two timers (polling the status block;
// waiting for the task's thread once it has ended), so every state change and message to
// the caller happens on the caller's thread while it pumps in Wait.
//
// The engine's functions are referenced weakly. A program that carries the engine links
// its objects (CMake target qg_tarn), which binds them, and the engine then shares the
// program's message layer, in which this downloader's window lives. An executable built
// without the engine gets a downloader that reports itself unusable, and the factory
// returns none. So does a program that neither names the outside engine service's port
// ("IPCPort" under HKLM "Software\VELKO\p4p") nor uses the engine in-process
// (download/tarn/engine_in_process.h).
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "download/auto_download.h"
#include "platform/event.h"

struct TarnTask;

class CAutoDownload_Tarn : public CAutoDownload {
  public:
    static constexpr const char* kWindowClass = "TARN_CMD_WINDOW_CLASS";
    static constexpr uint32_t kEngineStarted = 0x2400;
    static constexpr uint32_t kEngineEnded = 0x2401;
    static constexpr uintptr_t kPollTimer = 101;
    static constexpr uintptr_t kReapTimer = 102;
    static constexpr uint32_t kTimerPeriodMs = 100;

    CAutoDownload_Tarn();
    // Cancels a running engine task and waits for its thread, then destroys the window.
    ~CAutoDownload_Tarn() override;

    // False when the engine is missing or not configured: the object must not be used.
    bool usable() const { return usable_; }

    uint32_t GetKind() override { return 1; }
    uint32_t GetState() override { return task_->state.load(); }
    bool GetProgress(int64_t& total, int64_t& done) override;
    uint32_t GetSpeed() override { return speed_; }
    bool SetTask(const char* url, const char* localPath, platform::WindowHandle notifyWindow,
                 uint32_t tag) override;
    void Reset() override;
    void Start() override;
    void Stop() override;
    bool Wait(bool pumpMessages) override;
    // Handed to the engine as the task's mirrors (at most 64) and as the digest of the
    // block list it finds beside the file; both belong to the task set last.
    bool SetMirrors(const std::vector<std::string>& urls) override;
    bool SetBlockListSha256(const std::string& hex) override;

    static uint32_t MapEngineStatus(uint32_t status);
    static uint32_t MapEndCode(intptr_t endCode);
    // Bytes per second from a count and the milliseconds it took (0 ms: no figure yet).
    static uint32_t ComputeSpeed(int64_t done, uint32_t elapsedMs);

    platform::WindowHandle window() const { return window_; }

  private:
    static intptr_t WindowProcedure(platform::WindowHandle window, uint32_t message,
                                    uintptr_t wParam, intptr_t lParam);
    void OnStarted();
    void OnEnded(intptr_t endCode);
    void OnPoll();
    void OnReap();
    // Gives the new engine task its mirrors, its block list's digest and its size cap.
    bool HandOverSources();
    // Cancels the engine task if it still runs, waits for its thread and destroys it.
    void ReleaseEngineTask();

    bool usable_ = false;
    std::vector<std::string> mirrors_;
    std::string blockListSha256_;
    TarnTask* engineTask_ = nullptr;
    uint32_t lastEngineStatus_ = 0;
    platform::WindowHandle window_ = platform::kNoWindow;
    std::unique_ptr<platform::Event> doneEvent_;
    // Set when the engine's end message for the current task has arrived.
    bool ended_ = false;
    bool polling_ = false;
    platform::Event endedEvent_{true, false};
    std::atomic<int64_t> total_{0};
    std::atomic<int64_t> done_{0};
    std::atomic<uint32_t> speed_{0};
};
