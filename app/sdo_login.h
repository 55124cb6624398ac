// The SDO login: loads the outside login module, shows its login window and hands the
// login on to the game through its environment.
//
// The state is process-wide, as the module's callback carries no context. Threads: every
// function but SdoLoginCallback runs on the dialog's thread. The module calls
// SdoLoginCallback on a thread of its own; the callback only records the login, sets the
// flags and posts WM_SDO_LOGIN_OK / WM_SDO_LOGIN_CANCEL to the dialog's window. The login
// reaches the environment on the dialog's thread (SdoApplyLoginEnvironment), because
// changing the environment while other threads read it is not safe.
#pragma once

#include <cstdint>
#include <string>

#include "app/sdo_module.h"
#include "platform/messages.h"

inline constexpr const char* kSdoModulePath = "./SDO/sdologinentry.dll";

// Loads the module, finds its three entry points, initialises it with the application
// record and gets the login interface. `messageWindow` receives the posts and the
// activation send; `nativeWindow` is the window the login window attaches to. False (and
// everything undone) when any step fails.
bool SdoInitialize(platform::WindowHandle messageWindow, uintptr_t nativeWindow,
                   std::u16string version, std::u16string name, uint32_t applicationId);

// Sends WM_ACTIVATEAPP (wParam 0) to the dialog, attaches the login window and shows it.
// Nothing happens while no interface is held.
void SdoShowLogin();

// The module's callback (see SDOLLoginCallback).
int32_t SdoLoginCallback(int32_t code, const char16_t* const* info, intptr_t p3, intptr_t p4);

// Releases the interface, ends and frees the module.
void SdoTerminate();

// Hides the login window when an interface is held.
void SdoHideLogin();

// Sets "SDO_SESSION_ID", "SDO_SND_AID" and "SDO_ADDTIONAL_INFO" (GBK) from the last login
// for the processes started later; false when there was no login.
bool SdoApplyLoginEnvironment();

// Whether the login window has been shown or the callback has run since the module was
// loaded, and whether the login window is up now.
bool SdoLoginActive();
bool SdoLoginShown();
