#include "app/launch_dialog_model.h"

#include <cstdio>

#include "update/launch_messages.h"
#include "update/message_table.h"

namespace {

// The spinner frame shown last; kept between marquee periods for the whole process.
uint32_t g_spinnerIndex = static_cast<uint32_t>(MessageId::kRepairSpinnerFirst);

const char* Text(uintptr_t wParam) {
    const char* text = reinterpret_cast<const char*>(wParam);
    return text != nullptr ? text : "";
}

}  // namespace

LaunchDialogModel::LaunchDialogModel(Callbacks callbacks, bool repairOffered,
                                     const ClientWorkGate& gate)
    : callbacks_(std::move(callbacks)), repairOffered_(repairOffered), gate_(gate) {}

LaunchDialogModel::Action LaunchDialogModel::HandleMessage(uint32_t message, uintptr_t wParam,
                                                           intptr_t lParam, bool* consumed) {
    bool textMessage = true;
    Action action = Action::None;
    switch (message) {
        case WM_LAUNCH_STATUS:
        case WM_REPAIR_STATUS:
            status_ = Text(wParam);
            Changed();
            break;
        case WM_LAUNCH_STATUS2:
            extra_ = std::string(Text(wParam)) + Text(static_cast<uintptr_t>(lParam));
            detail_ = Text(wParam);
            Changed();
            break;
        case WM_LAUNCH_DETAIL:
        case WM_REPAIR_DETAIL:
            detail_ = Text(wParam);
            Changed();
            break;
        case WM_LAUNCH_ERROR:
        case WM_REPAIR_ERROR:
            ShowError(Text(wParam));
            break;
        default:
            textMessage = false;
            break;
    }
    if (!textMessage) {
        switch (message) {
            case WM_LAUNCH_PROGRESS:
            case WM_REPAIR_PROGRESS:
                SetUpperBar(wParam);
                break;
            case WM_LAUNCH_TOTAL_PROGRESS:
            case WM_REPAIR_TOTAL_PROGRESS:
                if (static_cast<int>(wParam) != lowerBar_) {
                    lowerBar_ = static_cast<int>(wParam);
                    Changed();
                }
                break;
            case WM_LAUNCH_ENABLE_CLOSE:
            case WM_LAUNCH_DISABLE_CLOSE:
                closeEnabled_ = message == WM_LAUNCH_ENABLE_CLOSE;
                Changed();
                break;
            case WM_LAUNCH_DONE:
                action = OnUpdateDone();
                break;
            case WM_LAUNCH_MANUAL_DOWNLOAD:
                action = Action::RunManualDownloadThenQuit;
                break;
            case WM_REPAIR_DONE:
                OnRepairDone();
                break;
            default:
                break;
        }
    }
    if (consumed != nullptr) *consumed = textMessage;
    return action;
}

void LaunchDialogModel::SetUpperBar(uintptr_t value) {
    if (value == MARQUEE_ON) {
        marquee_ = true;  // a second MARQUEE_ON restarts the marquee without harm
    } else if (value == MARQUEE_OFF) {
        marquee_ = false;
        upperBar_ = 0;
    } else if (static_cast<int>(value) != upperBar_) {
        upperBar_ = static_cast<int>(value);
    } else {
        return;  // same position: nothing to redraw
    }
    Changed();
}

void LaunchDialogModel::OnMarqueeTick() {
    if (!marquee_) return;
    constexpr auto first = static_cast<uint32_t>(MessageId::kRepairSpinnerFirst);
    constexpr auto last = static_cast<uint32_t>(MessageId::kRepairSpinnerLast);
    g_spinnerIndex = g_spinnerIndex >= last ? first : g_spinnerIndex + 1;
    HandleMessage(WM_REPAIR_DETAIL, reinterpret_cast<uintptr_t>(GetMessageText(g_spinnerIndex)), 0);
}

void LaunchDialogModel::ShowError(const std::string& text) {
    status_ = text;
    detail_.clear();
    statusColour_ = kErrorColour;  // stays for every later status text
    Changed();
}

LaunchDialogModel::Action LaunchDialogModel::OnUpdateDone() {
    const int result = callbacks_.updateResult ? callbacks_.updateResult() : kResultRunning;
    if (result == kResultLauncherReplaced) return Action::StartInstalledLauncherAndClose;
    if (result == kResultUpToDate) {
        // Start and repair follow once the update's thread has given the client back.
        detail_.clear();
        upperBar_ = lowerBar_ = 100;
        Changed();
    }
    return Action::None;
}

void LaunchDialogModel::OnRepairStarted() {
    repairRunning_ = true;
    Changed();
}

void LaunchDialogModel::OnRepairDone() {
    repairRunning_ = false;
    status_ = FormatMessage<MessageId::kRepairDone>(
        callbacks_.repairedCount ? callbacks_.repairedCount() : 0);
    detail_.clear();
    configToolEnabled_ = true;
    Changed();
}

LaunchDialogModel::Action LaunchDialogModel::RequestClose() {
    if (!repairRunning_) return Action::Close;
    closeEnabled_ = false;
    Changed();
    if (callbacks_.signalRepairStop) callbacks_.signalRepairStop();
    return Action::WaitForRepairThenClose;
}

void LaunchDialogModel::OnRepairThreadEnded() {
    repairRunning_ = false;
    Changed();
}
