// A message window whose procedure is a std::function, and a thread that owns one and
// runs a message loop: the small fixture of the message-layer tests.
#pragma once

#include <functional>
#include <future>
#include <thread>

#include "platform/messages.h"

namespace platform::testing {

using Handler = std::function<intptr_t(WindowHandle, uint32_t, uintptr_t, intptr_t)>;

// Creates a window on the calling thread that forwards to `handler` (kept alive by the
// caller as long as the window lives).
WindowHandle CreateHandlerWindow(Handler* handler);

// A thread with one handler window and a GetMessage loop; the destructor posts WM_QUIT
// and joins.
class WindowThread {
  public:
    explicit WindowThread(Handler handler);
    ~WindowThread();
    WindowHandle Window() const { return window_; }
    uint32_t ThreadId() const { return threadId_; }
    std::thread::id NativeId() const { return thread_.get_id(); }

  private:
    Handler handler_;
    WindowHandle window_ = kNoWindow;
    uint32_t threadId_ = 0;
    std::thread thread_;
};

}  // namespace platform::testing
