#include "app/launch_dialog.h"

#include "app/about_dialog.h"
#include "app/game_start.h"
#include "app/install_ping.h"
#include "app/launch_dialog_layout.h"
#include "app/manual_download_dialog.h"
#include "platform/text_encoding.h"
#include "platform/ui/message_box.h"
#include "update/launch_messages.h"
#include "update/message_table.h"
#include "update/url.h"

namespace {

using namespace launch_dialog;
using platform::ui::CTransParentButton;
using platform::ui::CxSkinButton;

constexpr const char* kDialogWindowClass = "QUILLGATE_LAUNCH_DIALOG";
constexpr const char* kAboutMenuText = "About Quillgate(&A)...";
constexpr const char* kBlankPage = "about:blank";

bool IsProgress(uint32_t message) {
    return message == WM_LAUNCH_PROGRESS || message == WM_REPAIR_PROGRESS;
}

}  // namespace

CLaunchDlg::CLaunchDlg(Options options) : options_(std::move(options)) {
    platform::RegisterWindowClass(kDialogWindowClass, &CLaunchDlg::WindowProc);
    messageWindow_ = platform::CreateMessageWindow(kDialogWindowClass);
    platform::SetWindowUserData(messageWindow_, reinterpret_cast<intptr_t>(this));
    // Repair is offered once the configuration is known (see Run); until then only a
    // failed start can have reported anything.
    model_ = std::make_unique<LaunchDialogModel>(
        LaunchDialogModel::Callbacks{[this] { return options_.update->result(); }, nullptr,
                                     nullptr},
        false, gate());

    window_ =
        std::make_unique<platform::ui::SkinWindow>(options_.skin, kBackgroundBitmap, kIconBitmap);
    window_->SetTitle(GetMessageText(MessageId::kTitle));
    window_->SetDragBand(kDragBand);
    window_->AddMenuItem(kAboutMenuText, [this] { ShowAbout(); });
    window_->onEnter = [this] { PressEnter(); };
    // The window manager's close follows the close button: ignored while it is disabled
    // (the packs are being written then).
    window_->onCloseRequest = [this] {
        if (model_->closeEnabled()) Close();
    };

    for (const ButtonLayout& b : kButtons) {
        const auto kind = (b.id == kClassicStyle || b.id == kQuickStyle) ? CxSkinButton::Kind::Check
                                                                         : CxSkinButton::Kind::Push;
        auto button = std::make_unique<CxSkinButton>(*window_, b.rect, kind);
        button->SetSkin(b.bitmaps[0], b.bitmaps[1], b.bitmaps[2], b.bitmaps[3], 0, 0,
                        CxSkinButton::kDrawStretch, false, 0);
        button->SetAccessibleName(b.name);
        button->onClick = [this, id = b.id] { Command(id); };
        buttons_[b.id] = std::move(button);
    }
    buttons_[kForum]->SetVisible(false);
    buttons_[kCancel]->SetVisible(false);
    buttons_[kSpare]->SetEnabled(false);
    buttons_[kStartGame]->SetEnabled(false);
    buttons_[kRepair]->SetEnabled(false);

    const bool latin = options_.codePage == 1258;
    for (auto [id, rect] :
         {std::pair{kStatusLine, kStatusRect}, std::pair{kDetailLine, kDetailRect},
          std::pair{kExtraLine, kExtraRect}}) {
        auto label = std::make_unique<CTransParentButton>(*window_, rect);
        label->SetEnabled(false);  // a label takes no input
        label->SetFont(latin ? "Arial" : "SimSun,宋体,WenQuanYi Micro Hei", latin ? 14 : 12);
        label->TakeBackground(kBackgroundBitmap);
        lines_[id] = std::move(label);
    }
    upperBar_ = std::make_unique<platform::ui::ProgressBar>(*window_, kUpperBarRect);
    lowerBar_ = std::make_unique<platform::ui::ProgressBar>(*window_, kLowerBarRect);
    browser_ = std::make_unique<platform::ui::BrowserView>(*window_, kBrowser);
    browser_->onOpenOutside = [this](const std::string& url) {
        if (options_.openUrl) options_.openUrl(url);
    };
}

CLaunchDlg::~CLaunchDlg() {
    platform::DestroyMessageWindow(messageWindow_);
    starter_.reset();
    ping_.reset();
    browser_.reset();
    upperBar_.reset();
    lowerBar_.reset();
    lines_.clear();
    buttons_.clear();
    window_.reset();
}

CLaunchDlg::Outcome CLaunchDlg::Run() {
    window_->Show();
    configLoaded_ = options_.update->Start(messageWindow_);
    if (configLoaded_) {
        config_ = options_.update->config();
        // Nothing has been handled yet: the worker's first send waits for the loop below.
        const bool repairOffered = options_.repair != nullptr && !config_.repairUrl.empty();
        model_ = std::make_unique<LaunchDialogModel>(
            LaunchDialogModel::Callbacks{
                [this] { return options_.update->result(); },
                [this] { return options_.repair ? options_.repair->repairedCount() : 0; },
                [this] {
                    if (options_.repair) options_.repair->RequestStop();
                }},
            repairOffered, gate());
        if (options_.startInstallPing) {
            ping_ = std::make_unique<InstallRegisterPing>(config_.registerUrl);
            if (ping_->Prepare()) ping_->StartThread();
        }
    }
    NavigateNews();

    GameStartHost host;
    host.messageWindow = messageWindow_;
    host.nativeWindowId = window_->NativeId();
    host.showErrorBox = [this](const std::string& text) {
        platform::ui::ShowMessageBox(window_.get(), text, platform::ui::MessageBoxKind::Error);
    };
    host.closeDialog = [this] { EndWith(Outcome::Closed); };
    starter_ = std::make_unique<GameStarter>(std::move(host), config_, config_.editionId);

    for (auto& [id, label] : lines_) {
        for (auto slot : {CTransParentButton::kTextNormal, CTransParentButton::kTextHover,
                          CTransParentButton::kTextFocus, CTransParentButton::kTextDisabled})
            label->SetColour(slot, kLabelColour);
    }
    ShowStyle();
    Refresh();

    {
        platform::ui::MessagePump pump([this] { EndWith(Outcome::Closed); });
        if (!ending_) loop_.Run();
    }
    // From here on a worker's send fails at once: nobody is left to answer it.
    platform::DestroyMessageWindow(messageWindow_);
    window_->Hide();
    return outcome_;
}

platform::ui::CxSkinButton* CLaunchDlg::button(int id) {
    auto it = buttons_.find(id);
    return it == buttons_.end() ? nullptr : it->second.get();
}

platform::ui::CTransParentButton* CLaunchDlg::line(int id) {
    auto it = lines_.find(id);
    return it == lines_.end() ? nullptr : it->second.get();
}

platform::ui::ProgressBar* CLaunchDlg::bar(int id) {
    return id == kUpperBar ? upperBar_.get() : id == kLowerBar ? lowerBar_.get() : nullptr;
}

intptr_t CLaunchDlg::WindowProc(platform::WindowHandle window, uint32_t message, uintptr_t wParam,
                                intptr_t lParam) {
    auto* self = reinterpret_cast<CLaunchDlg*>(platform::GetWindowUserData(window));
    if (self == nullptr) return platform::DefWindowProc(window, message, wParam, lParam);
    return self->Handle(message, wParam, lParam);
}

intptr_t CLaunchDlg::Handle(uint32_t message, uintptr_t wParam, intptr_t lParam) {
    switch (message) {
        case platform::WM_TIMER:
            if (wParam == kSpinnerTimer) {
                model_->OnMarqueeTick();
                Refresh();
            } else if (wParam == kRepairCloseTimer) {
                if (options_.repair == nullptr || options_.repair->Ended()) {
                    platform::KillTimer(messageWindow_, kRepairCloseTimer);
                    model_->OnRepairThreadEnded();
                    EndWith(Outcome::Closed);
                }
            }
            return 0;
        case WM_APP_CHECK_GAME:
            return options_.checkGameRunning && options_.checkGameRunning(*window_) ? 1 : 0;
        case WM_APP_SHOW_MESSAGE:
            platform::ui::ShowMessageBox(window_.get(), reinterpret_cast<const char*>(wParam),
                                         platform::ui::MessageBoxKind::Error);
            return 0;
        case WM_APP_WORKER_ENDED:
            Refresh();  // the update gave the client back: start and repair may follow
            return 0;
        case WM_APP_REPAIR_ENDED:
            model_->OnRepairThreadEnded();
            Refresh();
            return 0;
        case WM_CLOSE:
            EndWith(Outcome::Closed);
            return 0;
        case WM_SDO_SHOW_LOGIN:
            starter_->OnSdoShowLogin();
            return 0;
        case WM_SDO_LOGIN_OK:
            starter_->OnSdoLoginOk();
            return 0;
        case WM_SDO_LOGIN_CANCEL:
            starter_->OnSdoLoginCancel();
            return 0;
        default:
            break;
    }
    const LaunchDialogModel::Action action = model_->HandleMessage(message, wParam, lParam);
    if (IsProgress(message) && wParam == MARQUEE_ON) {
        // Started again by a second MARQUEE_ON, without harm.
        upperBar_->StartMarquee(kMarqueeStepMs);
        platform::SetTimer(messageWindow_, kSpinnerTimer, kSpinnerTimerMs);
    } else if (IsProgress(message) && wParam == MARQUEE_OFF) {
        upperBar_->StopMarquee();
        platform::KillTimer(messageWindow_, kSpinnerTimer);
    }
    Refresh();
    Act(action);
    return 0;
}

void CLaunchDlg::Act(LaunchDialogModel::Action action) {
    switch (action) {
        case LaunchDialogModel::Action::StartInstalledLauncherAndClose:
            EndWith(Outcome::LauncherReplaced);
            break;
        case LaunchDialogModel::Action::RunManualDownloadThenQuit: {
            CManualDownloadDlg dialog(window_.get(), options_.skin, options_.openUrl);
            dialog.RunModal();
            EndWith(Outcome::ManualDownloadShown);
            break;
        }
        case LaunchDialogModel::Action::Close:
            EndWith(Outcome::Closed);
            break;
        default:
            break;
    }
}

void CLaunchDlg::Refresh() {
    if (model_->revision() == drawnRevision_) return;
    drawnRevision_ = model_->revision();
    CTransParentButton& status = *lines_[kStatusLine];
    for (auto slot : {CTransParentButton::kTextNormal, CTransParentButton::kTextHover,
                      CTransParentButton::kTextFocus, CTransParentButton::kTextDisabled})
        status.SetColour(slot, model_->statusColour());
    status.SetText(model_->status());
    lines_[kDetailLine]->SetText(model_->detail());
    lines_[kExtraLine]->SetText(model_->extra());
    upperBar_->SetPosition(model_->upperBar());
    lowerBar_->SetPosition(model_->lowerBar());
    buttons_[kStartGame]->SetEnabled(model_->startEnabled());
    buttons_[kRepair]->SetEnabled(model_->repairEnabled());
    buttons_[kConfigTool]->SetEnabled(model_->configToolEnabled());
    buttons_[kClose]->SetEnabled(model_->closeEnabled());
    buttons_[kCancel]->SetEnabled(model_->closeEnabled());
}

void CLaunchDlg::Command(int id) {
    switch (id) {
        case kStartGame:
            if (model_->startEnabled() && starter_) starter_->StartGame();
            break;
        case kConfigTool:
            if (starter_) starter_->RunConfigTool();
            break;
        case kRepair:
            StartRepair();
            break;
        case kDownloadPage:
            OpenConfigured(config_.downloadPageUrl);
            break;
        case kHomePage:
            OpenConfigured(config_.homePageUrl);
            break;
        case kNewerVersion:
            OpenConfigured(config_.newerUrl);
            break;
        case kBilling:
            OpenConfigured(config_.billingUrl);
            break;
        case kForum:
            OpenConfigured(config_.bbsUrl);
            break;
        case kMinimise:
            window_->Minimise();
            break;
        case kClose:
        case kCancel:
            Close();
            break;
        case kProxySettings:
            if (starter_) starter_->OpenProxySettings();
            break;
        case kClassicStyle:
            SetQuickStyle(false);
            break;
        case kQuickStyle:
            SetQuickStyle(true);
            break;
        default:
            break;
    }
}

void CLaunchDlg::StartRepair() {
    // Offered only in the ready state; the worker's own pass on the client refuses it
    // anyway while another writer holds the packs.
    if (options_.repair == nullptr || !model_->repairEnabled()) return;
    if (options_.repair->Start(messageWindow_)) {
        model_->OnRepairStarted();
    } else {
        // Nothing was started: say why instead of spinning forever.
        const std::string reason = FormatMessage<MessageId::kRepairStartFailed>(
            std::string(GetMessageText(MessageId::kConfigBad)));
        model_->HandleMessage(WM_REPAIR_ERROR, reinterpret_cast<uintptr_t>(reason.c_str()), 0);
    }
    Refresh();
}

void CLaunchDlg::PressEnter() {
    // Enter is the start button's shortcut, not a way round it: before the update has
    // finished the packs may be half written.
    if (model_->startEnabled()) Command(kStartGame);
}

void CLaunchDlg::Close() {
    if (model_->RequestClose() == LaunchDialogModel::Action::WaitForRepairThenClose) {
        Refresh();
        platform::SetTimer(messageWindow_, kRepairCloseTimer, kRepairCloseTimerMs);
        return;
    }
    EndWith(Outcome::Closed);
}

void CLaunchDlg::SetQuickStyle(bool quick) {
    config_.quickStyle = quick;
    ShowStyle();
}

void CLaunchDlg::ShowStyle() {
    const bool quick = config_.quickStyle;
    buttons_[kClassicStyle]->SetChecked(!quick);
    buttons_[kQuickStyle]->SetChecked(quick);
    if (styleShown_ && quick == shownQuickStyle_) return;
    styleShown_ = true;
    shownQuickStyle_ = quick;
    buttons_[kClassicStyle]->SetNormalBitmap(quick ? kClassicNormalWhileQuick
                                                   : Button(kClassicStyle).bitmaps[0]);
    buttons_[kQuickStyle]->SetNormalBitmap(quick ? kQuickNormalWhileQuick
                                                 : Button(kQuickStyle).bitmaps[0]);
}

void CLaunchDlg::OpenConfigured(const std::string& gbkUrl) {
    if (gbkUrl.empty() || !options_.openUrl) return;
    options_.openUrl(platform::GbkToUtf8Lossy(gbkUrl));
}

void CLaunchDlg::NavigateNews() {
    UrlParts parts;
    if (!SplitUrl(config_.webUrl, parts))
        browser_->Navigate(kBlankPage);
    else
        browser_->Navigate(platform::GbkToUtf8Lossy(config_.webUrl));
}

void CLaunchDlg::ShowAbout() {
    CAboutDlg about(window_.get(), options_.skin, options_.version);
    about.RunModal();
}

void CLaunchDlg::EndWith(Outcome outcome) {
    if (ending_) return;
    ending_ = true;
    outcome_ = outcome;
    loop_.End(0);
}
