#include "app/kill_game_dialog.h"

#include "platform/ui/message_box.h"
#include "update/message_table.h"

CKillGameDlg::CKillGameDlg(platform::ui::Window* owner, std::shared_ptr<platform::ui::Skin> skin,
                           std::string gamePath, const ProcessAccess& access)
    : dialog_(owner, std::move(skin), 380, 150),
      icon_(dialog_, {16, 16, 32, 32}, "warning"),
      text_(dialog_, {64, 16, 300, 64}, GetMessageText(MessageId::kGameRunningPressOk)),
      ok_(dialog_, {280, 106, 84, 28}, "OK"),
      forceClose_(dialog_, {58, 106, 150, 28}, GetMessageText(MessageId::kForceClose)),
      gamePath_(std::move(gamePath)),
      access_(access) {
    dialog_.SetTitle(GetMessageText(MessageId::kTitle));
    dialog_.onCloseRequest = [this] { Cancel(); };
    ok_.onClick = [this] { OnOk(); };
    forceClose_.onClick = [this] { OnForceClose(); };
    ok_.GrabFocus();
}

void CKillGameDlg::OnOk() {
    ok_.SetEnabled(false);
    forceClose_.SetEnabled(false);
    poll_.Start(kPollMs, [this] { OnPollTick(); });
}

void CKillGameDlg::OnPollTick() {
    poll_.Stop();
    if (FindGameProcesses(gamePath_, access_).empty()) {
        dialog_.End(kOk);
        return;
    }
    ok_.SetEnabled(true);
    forceClose_.SetEnabled(true);
    forceClose_.Repaint();
}

void CKillGameDlg::OnForceClose() {
    forceClose_.SetEnabled(false);
    // The update goes on only once the game has really gone: a game still closing keeps
    // its files open. One that outlives the check is waited for as after OK.
    if (ForceCloseGame(gamePath_, access_)) {
        dialog_.End(kOk);
        return;
    }
    OnOk();
}

void CKillGameDlg::Cancel() {
    if (platform::ui::ShowMessageBox(&dialog_, GetMessageText(MessageId::kConfirmCancel),
                                     platform::ui::MessageBoxKind::Question) ==
        platform::ui::MessageBoxAnswer::Yes) {
        poll_.Stop();
        dialog_.End(kCancel);
    }
}

bool CheckGameRunning(platform::ui::Window* owner, std::shared_ptr<platform::ui::Skin> skin,
                      const std::string& gamePath, const ProcessAccess& access) {
    if (FindGameProcesses(gamePath, access).empty()) return false;
    CKillGameDlg dialog(owner, std::move(skin), gamePath, access);
    return dialog.RunModal() != CKillGameDlg::kOk;
}
