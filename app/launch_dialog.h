// The launcher's main window: the skinned dialog that shows the update's progress and the
// news page, and starts the game. It draws LaunchDialogModel and forwards the workers'
// messages, the buttons and its timers to it.
//
// Threads: constructed, run and destroyed on the UI thread (the one that initialised the
// toolkit). The workers reach it only through messages sent to its message window; every
// handler runs on the UI thread while the sender waits, and texts are copied before the
// handler returns. Once the window is closed its message window is destroyed first, so a
// worker's pending or later send fails at once instead of waiting for a window that is
// gone.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "app/app_messages.h"
#include "app/launch_dialog_model.h"
#include "platform/messages.h"
#include "platform/ui/browser_view.h"
#include "platform/ui/progress_bar.h"
#include "platform/ui/skin.h"
#include "platform/ui/skin_button.h"
#include "platform/ui/transparent_label.h"
#include "platform/ui/window.h"
#include "update/client_work_gate.h"
#include "update/launcher_config.h"

class GameStarter;
class InstallRegisterPing;

// The update worker as the window drives it.
class UpdateWork {
  public:
    virtual ~UpdateWork() = default;
    // Loads the configuration and starts reporting to `window`; false when it could not
    // start (it has reported why to the window). Holds the client's gate until its thread
    // ends, then posts WM_APP_WORKER_ENDED to `window`.
    virtual bool Start(platform::WindowHandle window) = 0;
    virtual int result() const = 0;
    // The configuration it loaded (valid once Start returned).
    virtual const LauncherConfig& config() const = 0;
};

// A repair run as the window drives it.
class RepairWork {
  public:
    virtual ~RepairWork() = default;
    // Holds the client's gate from here until its thread ends, then posts
    // WM_APP_REPAIR_ENDED to `window`; false when it did not start.
    virtual bool Start(platform::WindowHandle window) = 0;
    virtual void RequestStop() = 0;
    virtual bool Ended() const = 0;  // its thread has ended (or it never started)
    virtual int repairedCount() const = 0;
};

class CLaunchDlg {
  public:
    // How the window ended.
    enum class Outcome {
        Closed,               // closed by the user, or after the game was started
        LauncherReplaced,     // a new launcher was installed: start it
        ManualDownloadShown,  // the manual-download dialog was shown: quit
    };

    struct Options {
        std::shared_ptr<platform::ui::Skin> skin;
        UpdateWork* update = nullptr;  // required
        RepairWork* repair = nullptr;  // none: repair is not offered
        // Which of update, repair and start may run; none: the process's, which the
        // workers and the game start hold.
        const ClientWorkGate* gate = nullptr;
        uint32_t codePage = 936;  // 1258 selects the Latin dialog font
        std::string version;      // shown in the about box
        bool startInstallPing = true;
        // The running-client check, on the UI thread; true when the user cancelled.
        std::function<bool(platform::ui::Window& owner)> checkGameRunning;
        // Opens a URL in the user's browser.
        std::function<void(const std::string& url)> openUrl;
    };

    explicit CLaunchDlg(Options options);
    ~CLaunchDlg();
    CLaunchDlg(const CLaunchDlg&) = delete;
    CLaunchDlg& operator=(const CLaunchDlg&) = delete;

    // Shows the window, starts the update and runs until the window closes.
    Outcome Run();

    platform::WindowHandle messageWindow() const { return messageWindow_; }
    platform::ui::SkinWindow& window() { return *window_; }
    const LaunchDialogModel& model() const { return *model_; }
    platform::ui::CxSkinButton* button(int id);
    platform::ui::CTransParentButton* line(int id);
    platform::ui::ProgressBar* bar(int id);
    platform::ui::BrowserView* browser() { return browser_.get(); }
    // The commands of the buttons and keys, as a click would run them.
    void Command(int id);
    void PressEnter();
    // Ends Run as the close button does (after a repair, once its thread has ended).
    void Close();

  private:
    static intptr_t WindowProc(platform::WindowHandle window, uint32_t message, uintptr_t wParam,
                               intptr_t lParam);
    intptr_t Handle(uint32_t message, uintptr_t wParam, intptr_t lParam);
    void Act(LaunchDialogModel::Action action);
    void Refresh();
    void ShowStyle();
    void SetQuickStyle(bool quick);
    void OpenConfigured(const std::string& gbkUrl);
    void NavigateNews();
    void ShowAbout();
    void EndWith(Outcome outcome);
    void StartRepair();
    const ClientWorkGate& gate() const {
        return options_.gate ? *options_.gate : ClientWorkGate::OfProcess();
    }

    Options options_;
    std::unique_ptr<LaunchDialogModel> model_;
    std::unique_ptr<platform::ui::SkinWindow> window_;
    std::map<int, std::unique_ptr<platform::ui::CxSkinButton>> buttons_;
    std::map<int, std::unique_ptr<platform::ui::CTransParentButton>> lines_;
    std::unique_ptr<platform::ui::ProgressBar> upperBar_, lowerBar_;
    std::unique_ptr<platform::ui::BrowserView> browser_;
    std::unique_ptr<GameStarter> starter_;
    std::unique_ptr<InstallRegisterPing> ping_;
    LauncherConfig config_;  // the worker's, with the style the user picks
    bool configLoaded_ = false;
    bool styleShown_ = false;
    bool shownQuickStyle_ = false;
    uint64_t drawnRevision_ = ~0ull;
    platform::WindowHandle messageWindow_ = platform::kNoWindow;
    platform::ui::ModalLoop loop_;
    Outcome outcome_ = Outcome::Closed;
    bool ending_ = false;
};
