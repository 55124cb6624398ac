#include "platform/tests/message_test_window.h"

namespace platform::testing {
namespace {

intptr_t ForwardingProc(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
    auto* handler = reinterpret_cast<Handler*>(GetWindowUserData(window));
    return handler ? (*handler)(window, message, wParam, lParam)
                   : DefWindowProc(window, message, wParam, lParam);
}

}  // namespace

WindowHandle CreateHandlerWindow(Handler* handler) {
    RegisterWindowClass("QG_TEST_HANDLER_WINDOW", ForwardingProc);
    WindowHandle window = CreateMessageWindow("QG_TEST_HANDLER_WINDOW");
    SetWindowUserData(window, reinterpret_cast<intptr_t>(handler));
    return window;
}

WindowThread::WindowThread(Handler handler) : handler_(std::move(handler)) {
    std::promise<void> ready;
    thread_ = std::thread([this, &ready] {
        window_ = CreateHandlerWindow(&handler_);
        threadId_ = CurrentThreadId();
        ready.set_value();
        Message m;
        while (GetMessage(m)) DispatchMessage(m);
    });
    ready.get_future().wait();
}

WindowThread::~WindowThread() {
    PostThreadMessage(threadId_, WM_QUIT, 0, 0);
    thread_.join();
}

}  // namespace platform::testing
