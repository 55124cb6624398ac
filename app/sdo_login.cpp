#include "app/sdo_login.h"

#include <atomic>
#include <mutex>
#include <optional>
#include <string_view>

#include "app/game_start.h"
#include "platform/dynamic_library.h"
#include "platform/process.h"
#include "platform/text_encoding.h"
#include "update/launch_messages.h"

namespace {

// A login string is a short token; a longer run without NUL is not one.
constexpr size_t kMaxInfoChars = 4096;

struct LoginEnvironment {
    std::string sessionId;
    std::string sndAid;
    std::string additionalInfo;
};

// Dialog-thread state.
struct SdoState {
    platform::DynamicLibrary library;
    SDOLInitializeEntry initialize = nullptr;
    SDOLGetModuleEntry getModule = nullptr;
    SDOLTerminalEntry terminal = nullptr;
    SDOLLoginModule* module = nullptr;
    uintptr_t nativeWindow = 0;
    // The record's strings stay alive as long as the module may look at them.
    std::u16string name;
    std::u16string version;
    SDOLAppInfo application{};
};

SdoState& State() {
    static SdoState state;
    return state;
}

// Written by the module's thread, read by the dialog's.
std::atomic<bool> g_loginActive{false};
std::atomic<bool> g_loginShown{false};
std::atomic<platform::WindowHandle> g_messageWindow{platform::kNoWindow};
std::mutex g_loginMutex;
std::optional<LoginEnvironment> g_login;  // guarded by g_loginMutex

std::string InfoText(const char16_t* const* info, int index) {
    const char16_t* text = info[index];
    if (text == nullptr) return std::string();
    size_t length = 0;
    while (length < kMaxInfoChars && text[length] != u'\0') ++length;
    return platform::Utf8ToGbkLossy(platform::Utf16ToUtf8(std::u16string_view(text, length)));
}

}  // namespace

bool SdoInitialize(platform::WindowHandle messageWindow, uintptr_t nativeWindow,
                   std::u16string version, std::u16string name, uint32_t applicationId) {
    SdoState& s = State();
    SdoTerminate();
    if (!s.library.Load(kSdoModulePath)) return false;
    s.initialize = reinterpret_cast<SDOLInitializeEntry>(s.library.Symbol("SDOLInitialize"));
    s.getModule = reinterpret_cast<SDOLGetModuleEntry>(s.library.Symbol("SDOLGetModule"));
    s.terminal = reinterpret_cast<SDOLTerminalEntry>(s.library.Symbol("SDOLTerminal"));
    if (s.initialize == nullptr || s.getModule == nullptr || s.terminal == nullptr) {
        SdoTerminate();
        return false;
    }
    s.name = std::move(name);
    s.version = std::move(version);
    s.application =
        SDOLAppInfo{sizeof(SDOLAppInfo), applicationId, s.name.c_str(), s.version.c_str(), 1, 1};
    if (s.initialize(&s.application) != 0) {
        SdoTerminate();
        return false;
    }
    SDOLLoginModule* module = nullptr;
    if (s.getModule(&kSdoLoginModuleId, &module) != 0 || module == nullptr ||
        module->table == nullptr) {
        SdoTerminate();
        return false;
    }
    s.module = module;
    s.nativeWindow = nativeWindow;
    g_messageWindow = messageWindow;
    return true;
}

void SdoShowLogin() {
    SdoState& s = State();
    if (s.module == nullptr) return;
    platform::SendMessage(g_messageWindow, WM_ACTIVATEAPP, 0, 0);
    if (s.module->table->attachWindow) s.module->table->attachWindow(s.module, s.nativeWindow);
    // Raised before the window shows: the module may call back at once from its thread.
    g_loginShown = true;
    g_loginActive = true;
    if (s.module->table->showLogin) s.module->table->showLogin(s.module, &SdoLoginCallback, 0, 0);
}

int32_t SdoLoginCallback(int32_t code, const char16_t* const* info, intptr_t, intptr_t) {
    if (code == kSdoLoginClosed) {
        g_loginActive = true;
        g_loginShown = false;
        platform::PostMessage(g_messageWindow, WM_SDO_LOGIN_CANCEL, 0, 0);
        return 0;
    }
    // A login without its strings cannot be handed on; the login window stays.
    if (code != kSdoLoginDone || info == nullptr) return 0;
    g_loginActive = true;
    LoginEnvironment login{InfoText(info, kSdoInfoSessionId), InfoText(info, kSdoInfoSndAid),
                           InfoText(info, kSdoInfoAdditional)};
    {
        std::lock_guard<std::mutex> guard(g_loginMutex);
        g_login = std::move(login);
    }
    platform::PostMessage(g_messageWindow, WM_SDO_LOGIN_OK, 0, 0);
    return 1;
}

void SdoTerminate() {
    SdoState& s = State();
    if (s.module != nullptr && s.module->table->release) s.module->table->release(s.module);
    s.module = nullptr;
    if (s.terminal != nullptr) s.terminal();
    s.library.Free();
    s.initialize = nullptr;
    s.getModule = nullptr;
    s.terminal = nullptr;
    // A module loaded again starts from the beginning.
    g_loginActive = false;
    g_loginShown = false;
}

void SdoHideLogin() {
    SdoState& s = State();
    if (s.module == nullptr) return;
    if (s.module->table->hideLogin) s.module->table->hideLogin(s.module);
    g_loginShown = false;
}

bool SdoApplyLoginEnvironment() {
    std::optional<LoginEnvironment> login;
    {
        std::lock_guard<std::mutex> guard(g_loginMutex);
        login.swap(g_login);
    }
    if (!login) return false;
    platform::SetEnvironmentVariable("SDO_SND_AID", login->sndAid);
    platform::SetEnvironmentVariable("SDO_SESSION_ID", login->sessionId);
    platform::SetEnvironmentVariable("SDO_ADDTIONAL_INFO", login->additionalInfo);
    return true;
}

bool SdoLoginActive() { return g_loginActive; }
bool SdoLoginShown() { return g_loginShown; }
