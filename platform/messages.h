// The message layer: hidden message windows, synchronous sends and posted messages between
// threads, message loops, timers and the pumping wait. It stands in for the window
// messages through which the launcher's threads talk to each other.
//
// Model
// - Every thread that uses the layer gets a message queue on first use. A window belongs
//   to the thread that created it; its procedure only ever runs on that thread.
// - `SendMessage` blocks until the owner thread has run the procedure and returns its
//   result. Sending to one's own window is a direct call. While a thread waits for a send
//   to finish it still runs the procedures of messages sent to its own windows, so two
//   threads that send to each other do not deadlock. Posted messages are not dispatched
//   during a send; they wait for the thread's message loop.
// - Sent messages are handled by the owner thread inside `GetMessage`, `PeekMessage`,
//   `SendMessage` and the pumping wait; a thread blocked elsewhere (an `Event::Wait`, a
//   join) does not handle them.
// - When a thread's queue shuts down (`ShutdownMessageQueue`, or the thread's end) its
//   windows are destroyed, pending sends to it fail at once and later sends and posts to
//   it fail without waiting.
//
// Thread safety: every function may be called from any thread unless its comment names
// the owner thread. Failure: functions return false, kNoWindow or an empty optional; none
// throws except when the kernel refuses a descriptor for a new queue (std::system_error).
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "platform/event.h"

namespace platform {

enum class WindowHandle : uint64_t {};
inline constexpr WindowHandle kNoWindow{};

inline constexpr uint32_t WM_QUIT = 0x0012;
inline constexpr uint32_t WM_ACTIVATEAPP = 0x001C;  // wParam 0: another application is activated
inline constexpr uint32_t WM_TIMER = 0x0113;        // wParam = timer id
inline constexpr uint32_t WM_USER = 0x0400;

// Runs on the window's owner thread. `window` is the window the message is for.
using WindowProc = intptr_t (*)(WindowHandle window, uint32_t message, uintptr_t wParam,
                                intptr_t lParam);

struct Message {
    WindowHandle window = kNoWindow;  // kNoWindow for a thread message
    uint32_t message = 0;
    uintptr_t wParam = 0;
    intptr_t lParam = 0;
};

// The default handling of any message: nothing, result 0.
intptr_t DefWindowProc(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam);

// Registers a window class for the whole process. False when the name is empty or already
// registered with another procedure; registering the same pair again succeeds.
bool RegisterWindowClass(std::string_view className, WindowProc proc);

// Creates a message window of a registered class, owned by the calling thread. kNoWindow
// when the class is unknown. Handles are never reused within a process.
WindowHandle CreateMessageWindow(std::string_view className);

// Destroys a window of the calling thread, with its timers; its pending sends fail.
// False when the window does not exist or belongs to another thread.
bool DestroyMessageWindow(WindowHandle window);

bool IsWindowAlive(WindowHandle window);

// One pointer-sized value per window for its procedure to find its object; 0 initially.
// Set returns false for a window that does not exist.
bool SetWindowUserData(WindowHandle window, intptr_t value);
intptr_t GetWindowUserData(WindowHandle window);

// Runs the window's procedure on its owner thread and returns the result. Empty when the
// window does not exist, is destroyed before its owner handles the message, or its owner's
// queue has shut down.
std::optional<intptr_t> SendMessage(WindowHandle window, uint32_t message, uintptr_t wParam,
                                    intptr_t lParam);

// Queues a message for the window's owner thread. False when the window does not exist or
// its owner's queue has shut down.
bool PostMessage(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam);

// The calling thread's id for `PostThreadMessage`; creates its queue. Never 0.
uint32_t CurrentThreadId();
bool PostThreadMessage(uint32_t threadId, uint32_t message, uintptr_t wParam, intptr_t lParam);

// Message loop of the calling thread. `GetMessage` handles incoming sends while it waits
// and returns the next posted or timer message; false for WM_QUIT or after the queue has
// shut down. `PeekMessage` handles incoming sends, then returns a message if one is ready,
// without blocking; `remove` takes it off the queue.
bool GetMessage(Message& out);
bool PeekMessage(Message& out, bool remove);
// Calls the procedure of the message's window (a thread message or a destroyed window: 0).
intptr_t DispatchMessage(const Message& message);
// Makes the calling thread's `GetMessage` return false after the messages queued before.
void PostQuitMessage(int exitCode);

// Waits until the event is signalled, input (a sent, posted or timer message) is ready
// for the calling thread, or the time-out passed. Does not handle the input.
enum class WaitResult { Signalled, Input, Timeout };
WaitResult MsgWaitForEvent(Event& event, uint32_t timeoutMs);

// Waits for the event while dispatching every message that arrives for the calling
// thread (a WM_QUIT taken on the way is put back for the outer loop).
void WaitPumpingMessages(Event& event);

// Waits for the event while running the procedures of messages sent to the calling
// thread's windows; posted messages stay queued. For waits on work that may itself be
// blocked in a send to this thread (joining a worker, for example).
void WaitHandlingSends(Event& event);

// Timers of windows of the calling thread: a WM_TIMER message with wParam = id about
// `periodMs` after setting and then after each period, until killed. Like other timer
// messages they are produced only when no posted message is waiting, and a late timer
// does not queue up several messages. Setting an existing id restarts it with the new
// period. False for a window of another thread or a period of 0.
bool SetTimer(WindowHandle window, uintptr_t id, uint32_t periodMs);
bool KillTimer(WindowHandle window, uintptr_t id);

// A descriptor that polls readable while the calling thread has input (sent, posted or a
// due timer), so that another main loop (GTK) can watch it and pump with `PeekMessage`.
// Owned by the queue; do not read or close it.
int MessageQueueDescriptor();

// Ends the calling thread's queue early (it also ends when the thread does).
void ShutdownMessageQueue();

}  // namespace platform
