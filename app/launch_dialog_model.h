// What the main window shows and allows, driven by the workers' messages, without a
// toolkit: a window only draws this state and forwards clicks and timer ticks.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "update/client_work_gate.h"

// Text colours of the status line (0x00BBGGRR).
constexpr uint32_t kLabelColour = 0x0000FAFA;
constexpr uint32_t kErrorColour = 0x001900FF;

class LaunchDialogModel {
  public:
    // What the window must do after a message or a command.
    enum class Action {
        None,
        StartInstalledLauncherAndClose,  // a new launcher was installed
        RunManualDownloadThenQuit,
        Close,
        WaitForRepairThenClose,  // stop the repair, then close once its thread has ended
    };

    struct Callbacks {
        std::function<int()> updateResult;       // the update worker's result
        std::function<int()> repairedCount;      // files the repair worker restored
        std::function<void()> signalRepairStop;  // asks the repair worker to stop
    };

    // Start and repair are offered as `gate` allows them (a repair only when
    // `repairOffered`): never while the update or a repair holds the client, and only
    // once an update has left it up to date.
    LaunchDialogModel(Callbacks callbacks, bool repairOffered,
                      const ClientWorkGate& gate = ClientWorkGate::OfProcess());

    // Handles a worker message; `consumed` tells whether default processing is skipped
    // (text messages are consumed).
    Action HandleMessage(uint32_t message, uintptr_t wParam, intptr_t lParam,
                         bool* consumed = nullptr);

    // Marquee timer (500 ms) tick: the next spinner text in the detail line.
    void OnMarqueeTick();

    // Commands.
    // A repair worker has started (its thread holds the client until it ends).
    void OnRepairStarted();
    Action RequestClose();
    // The repair's thread has ended, completed or not: start and repair come back as the
    // ready state had them, and a failure stays on the status line.
    void OnRepairThreadEnded();

    // Shown state.
    const std::string& status() const { return status_; }
    const std::string& detail() const { return detail_; }
    const std::string& extra() const { return extra_; }
    uint32_t statusColour() const { return statusColour_; }
    int upperBar() const { return upperBar_; }
    int lowerBar() const { return lowerBar_; }
    bool marquee() const { return marquee_; }
    bool marqueeTimerRunning() const { return marquee_; }
    bool startEnabled() const { return gate_.MayBegin(ClientWorkGate::Work::GameStart); }
    bool repairEnabled() const {
        return repairOffered_ && gate_.MayBegin(ClientWorkGate::Work::Repair);
    }
    bool configToolEnabled() const { return configToolEnabled_; }
    bool closeEnabled() const { return closeEnabled_; }
    bool repairRunning() const { return repairRunning_; }
    // Grows whenever something visible changed (the gate's changes included), so a
    // window can skip redraws.
    uint64_t revision() const { return revision_ + gate_.generation(); }

  private:
    void SetUpperBar(uintptr_t value);
    void ShowError(const std::string& text);
    Action OnUpdateDone();
    void OnRepairDone();
    void Changed() { ++revision_; }

    Callbacks callbacks_;
    bool repairOffered_;
    const ClientWorkGate& gate_;
    std::string status_, detail_, extra_;
    uint32_t statusColour_ = kLabelColour;
    int upperBar_ = 0;
    int lowerBar_ = 0;
    bool marquee_ = false;
    bool configToolEnabled_ = true;
    bool closeEnabled_ = true;
    bool repairRunning_ = false;
    uint64_t revision_ = 0;
};
