// Asked before an update or a repair touches the client's files while the game runs:
// the user closes the game and presses OK (checked again after a second), forces it
// closed, or cancels the update.
#pragma once

#include <memory>
#include <string>

#include "app/game_processes.h"
#include "platform/ui/dialog_widgets.h"
#include "platform/ui/toolkit.h"
#include "platform/ui/window.h"

class CKillGameDlg {
  public:
    enum Result { kCancel = 2, kOk = 1 };
    // The pause between OK and the next look at the processes.
    static constexpr uint32_t kPollMs = 1000;

    CKillGameDlg(platform::ui::Window* owner, std::shared_ptr<platform::ui::Skin> skin,
                 std::string gamePath, const ProcessAccess& access = SystemProcesses());
    int RunModal() { return dialog_.RunModal(); }

    platform::ui::Dialog& dialog() { return dialog_; }
    platform::ui::TextButton& ok() { return ok_; }
    platform::ui::LinkLabel& forceClose() { return forceClose_; }
    void Cancel();  // as Escape or the close box: asks before it gives up the update

  private:
    void OnOk();
    void OnPollTick();
    void OnForceClose();

    platform::ui::Dialog dialog_;
    platform::ui::Picture icon_;
    platform::ui::TextLabel text_;
    platform::ui::TextButton ok_;
    platform::ui::LinkLabel forceClose_;
    platform::ui::Timer poll_;
    std::string gamePath_;
    const ProcessAccess& access_;
};

// True when the user cancelled (the update or repair must stop); false when no game runs
// (any more). Shows nothing when the game is not running.
bool CheckGameRunning(platform::ui::Window* owner, std::shared_ptr<platform::ui::Skin> skin,
                      const std::string& gamePath, const ProcessAccess& access = SystemProcesses());
