// The launcher's private window messages: what its own threads send or post to the window,
// and to the terminal front end's message window, which handles the same ends. One set of
// ids for both front ends, so that a worker's hooks post the same message whichever front
// end runs them. They never leave the process; they stay below the worker messages of
// update/launch_messages.h.
#pragma once

#include <cstdint>

#include "platform/messages.h"

inline constexpr uint32_t WM_APP_CHECK_GAME = platform::WM_USER + 0x200;    // sent; 1 = cancel
inline constexpr uint32_t WM_APP_SHOW_MESSAGE = platform::WM_USER + 0x201;  // sent; UTF-8 text
inline constexpr uint32_t WM_APP_WORKER_ENDED = platform::WM_USER + 0x202;  // posted
inline constexpr uint32_t WM_APP_REPAIR_ENDED = platform::WM_USER + 0x203;  // posted
// Posted by the interrupt watch on Ctrl+C (terminal front end).
inline constexpr uint32_t WM_APP_INTERRUPTED = platform::WM_USER + 0x204;
