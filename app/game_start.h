// The start button of the main dialog: the configuration tool on the first start, the SDO
// login or the fmproxy check depending on the edition, then the game.
//
// Threads: every member runs on the dialog's (UI) thread. The SDO login module calls back
// on a thread of its own; that callback only posts WM_SDO_LOGIN_OK / WM_SDO_LOGIN_CANCEL to
// `GameStartHost::messageWindow`, whose procedure calls OnSdoLoginOk / OnSdoLoginCancel here.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/messages.h"

struct LauncherConfig;

// What the dialog lends the game start.
struct GameStartHost {
    // The dialog's message-layer window (owned by the UI thread): receives the
    // WM_SDO_LOGIN_OK / WM_SDO_LOGIN_CANCEL posts and, before the login window shows, the
    // platform::WM_ACTIVATEAPP send (wParam 0).
    platform::WindowHandle messageWindow = platform::kNoWindow;
    // The toolkit window's id, handed to fmproxy as eight hexadecimal digits.
    uint32_t nativeWindowId = 0;
    // A modal box with the error icon and no caption; the text is UTF-8.
    std::function<void(const std::string& utf8Text)> showErrorBox;
    std::function<void()> closeDialog;
};

// The edition identifier that selects the SDO login.
inline constexpr const char* kSdoEditionId = "sdo";

class GameStarter {
  public:
    // `config` is the update worker's configuration; it must outlive this object and is
    // read only when the game starts (the worker fills it before the start button is
    // enabled).
    GameStarter(GameStartHost host, const LauncherConfig& config, std::string editionId);
    // Hides the login window and ends the login module when one is loaded.
    ~GameStarter();
    GameStarter(const GameStarter&) = delete;
    GameStarter& operator=(const GameStarter&) = delete;

    // Command 1005 and Enter. A game that cannot start is shown in the error box, and the
    // dialog stays open.
    void StartGame();
    // Command 1004: runs "bvConfig.exe" of the current folder and blocks until it ends;
    // a missing tool is skipped silently.
    void RunConfigTool();
    // Command 1033: fmproxy's settings entry; does not wait.
    void OpenProxySettings();
    // WM_SDO_SHOW_LOGIN.
    void OnSdoShowLogin();
    // WM_SDO_LOGIN_OK: ends the login module, starts the game, closes the dialog.
    void OnSdoLoginOk();
    // WM_SDO_LOGIN_CANCEL: hides the login window; the next start shows it again.
    void OnSdoLoginCancel();

  private:
    void RunProxyEntry(const char* entryName, bool wait);
    void StartGameAndClose();

    GameStartHost host_;
    const LauncherConfig& config_;
    std::string editionId_;
};
