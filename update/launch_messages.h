// Messages by which the update and repair workers report to the main window. Texts are
// NUL-terminated UTF-8 strings that stay valid only during the (synchronous) send, so
// the receiver copies them.
#pragma once

#include <cstdint>

constexpr uint32_t WM_LAUNCH_STATUS = 0x5400;          // text
constexpr uint32_t WM_LAUNCH_STATUS2 = 0x5401;         // text A, text B
constexpr uint32_t WM_LAUNCH_DETAIL = 0x5402;          // text
constexpr uint32_t WM_LAUNCH_PROGRESS = 0x5403;        // 0..100, MARQUEE_ON or MARQUEE_OFF
constexpr uint32_t WM_LAUNCH_TOTAL_PROGRESS = 0x5404;  // 0..100
constexpr uint32_t WM_LAUNCH_ERROR = 0x5405;           // text
constexpr uint32_t WM_LAUNCH_ENABLE_CLOSE = 0x5406;
constexpr uint32_t WM_LAUNCH_DISABLE_CLOSE = 0x5407;
constexpr uint32_t WM_LAUNCH_DONE = 0x5408;
constexpr uint32_t WM_LAUNCH_MANUAL_DOWNLOAD = 0x5409;  // posted, not sent

constexpr uint32_t WM_REPAIR_STATUS = 0x6400;
constexpr uint32_t WM_REPAIR_DETAIL = 0x6401;
constexpr uint32_t WM_REPAIR_PROGRESS = 0x6402;
constexpr uint32_t WM_REPAIR_TOTAL_PROGRESS = 0x6403;
constexpr uint32_t WM_REPAIR_ERROR = 0x6404;
constexpr uint32_t WM_REPAIR_DONE = 0x6405;

// Asks the main window to close (posted).
constexpr uint32_t WM_CLOSE = 0x0010;

constexpr uint32_t WM_SDO_SHOW_LOGIN = 0xA604;
constexpr uint32_t WM_SDO_LOGIN_OK = 0xA605;
constexpr uint32_t WM_SDO_LOGIN_CANCEL = 0xA606;

// Special values of the progress messages: the upper bar runs as a marquee.
constexpr uintptr_t MARQUEE_ON = 10001;
constexpr uintptr_t MARQUEE_OFF = 10002;

// Worker results read when WM_LAUNCH_DONE arrives.
constexpr int kResultNotStarted = -1;
constexpr int kResultRunning = -2;
constexpr int kResultLauncherReplaced = 1;
constexpr int kResultUpToDate = 2;
constexpr int kResultFailed = -3;
constexpr int kResultApplyFailed = -4;
constexpr int kResultNoDiskSpace = -5;
