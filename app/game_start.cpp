#include "app/game_start.h"

#include <cstdio>
#include <utility>
#include <vector>

#include "app/game_launch.h"
#include "app/rundll_entry.h"
#include "app/sdo_login.h"
#include "platform/file_system.h"
#include "platform/native_path.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/text_encoding.h"
#include "update/launcher_config.h"
#include "update/message_table.h"

namespace {

constexpr const char* kFirstRunKey = "Software\\velko\\firstrun";
constexpr const char* kFirstRunValue = "Runed";
constexpr const char* kConfigToolName = "bvConfig.exe";
constexpr const char* kProxyLibraryName = "fmproxy.dll";
constexpr const char* kSdoFailedText = "Open SDO IGW System Failed!";
constexpr const char16_t* kSdoApplicationVersion = u"0.1.2.0";
constexpr uint32_t kSdoApplicationId = 200071400;
// The process check looks at the running processes and ends; one that hangs must not keep
// the game from starting for ever.
constexpr uint32_t kProxyCheckTimeoutMs = 120000;

// The program and arguments that run `nativePath`: through wine when it is a Windows
// executable ("MZ" header), else itself. Empty when a Windows program cannot be run here.
std::string ProgramFor(const std::string& nativePath, std::vector<std::string>& args) {
    if (IsWindowsProgram(nativePath)) {
        const std::string wine = platform::FindProgramInPath("wine");
        if (!wine.empty()) args.insert(args.begin(), nativePath);
        return wine;
    }
    return nativePath;
}

}  // namespace

GameStarter::GameStarter(GameStartHost host, const LauncherConfig& config, std::string editionId)
    : host_(std::move(host)), config_(config), editionId_(std::move(editionId)) {}

GameStarter::~GameStarter() {
    // A dialog closed while the login window is up takes the login module with it.
    SdoHideLogin();
    SdoTerminate();
}

void GameStarter::StartGame() {
    platform::RegistryStore userStore(platform::RegistryHive::CurrentUser);
    const auto mark = userStore.Read(kFirstRunKey, kFirstRunValue);
    if (!mark || mark->type != platform::RegistryType::String) {
        RunConfigTool();
        // A store that cannot be written only means the tool runs again next time.
        userStore.WriteString(kFirstRunKey, kFirstRunValue, "1");
    }

    if (editionId_ == kSdoEditionId) {
        if (SdoLoginActive()) {
            if (!SdoLoginShown()) SdoShowLogin();
            return;
        }
        const std::u16string name = platform::Utf8ToUtf16(GetMessageText(MessageId::kTitle));
        if (!SdoInitialize(host_.messageWindow, host_.nativeWindowId, kSdoApplicationVersion, name,
                           kSdoApplicationId)) {
            if (host_.showErrorBox) host_.showErrorBox(kSdoFailedText);
            return;
        }
        SdoShowLogin();
        return;  // the game starts on WM_SDO_LOGIN_OK
    }

    RunProxyEntry("CheckProcessEntry", true);
    StartGameAndClose();
}

void GameStarter::RunConfigTool() {
    std::string native;
    if (!platform::PathExists(kConfigToolName) || !platform::NativePath(kConfigToolName, native)) {
        return;
    }
    std::vector<std::string> args;
    const std::string program = ProgramFor(platform::AbsolutePath(native), args);
    uint32_t id = 0;
    if (program.empty() || !platform::StartProcess(program, args, "", &id)) return;
    // The user works in the tool; it ends when they close it, so no time-out here.
    platform::WaitForProcess(id);
}

void GameStarter::OpenProxySettings() { RunProxyEntry("SettingProcessEntry", false); }

void GameStarter::OnSdoShowLogin() { SdoShowLogin(); }

void GameStarter::OnSdoLoginOk() {
    SdoTerminate();
    // A second notice of the same login must not start a second game.
    if (!SdoApplyLoginEnvironment()) return;
    StartGameAndClose();
    SdoHideLogin();
}

void GameStarter::OnSdoLoginCancel() { SdoHideLogin(); }

void GameStarter::RunProxyEntry(const char* entryName, bool wait) {
    if (!platform::PathExists(kProxyLibraryName)) return;
    const std::string helper = RundllProgramPath();
    if (helper.empty()) return;
    char window[16];
    std::snprintf(window, sizeof window, "%08X", host_.nativeWindowId);
    const std::vector<std::string> args = {std::string(kProxyLibraryName) + "," + entryName,
                                           window};
    uint32_t id = 0;
    if (!platform::StartProcess(helper, args, "", &id)) return;
    if (wait) platform::WaitForProcessFor(id, kProxyCheckTimeoutMs);
}

void GameStarter::StartGameAndClose() {
    const GameLaunch launch = RunGame(config_);
    if (!launch.started) {
        // The player sees why, and the window stays for another try.
        if (host_.showErrorBox) host_.showErrorBox(launch.whyNot);
        return;
    }
    if (host_.closeDialog) host_.closeDialog();
}
