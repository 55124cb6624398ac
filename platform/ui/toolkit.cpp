#include "platform/ui/toolkit.h"

#include <glib-unix.h>
#include <gtk/gtk.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "platform/messages.h"

namespace platform::ui {

bool InitToolkit() { return gtk_init_check(nullptr, nullptr) != FALSE; }

bool DisplayNamed() {
    const char* x = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    return (x != nullptr && *x != '\0') || (wayland != nullptr && *wayland != '\0');
}

struct MessagePump::Impl {
    std::function<void()> onQuit;
    GSource* source = nullptr;

    static gboolean OnInput(gint, GIOCondition, gpointer data) {
        auto* self = static_cast<Impl*>(data);
        platform::Message msg;
        // PeekMessage runs the procedures of sent messages itself; posted and timer
        // messages come back here to be dispatched.
        while (platform::PeekMessage(msg, true)) {
            if (msg.message == platform::WM_QUIT) {
                if (self->onQuit) self->onQuit();
                continue;
            }
            platform::DispatchMessage(msg);
        }
        return G_SOURCE_CONTINUE;
    }
};

MessagePump::MessagePump(std::function<void()> onQuit) : impl_(std::make_unique<Impl>()) {
    impl_->onQuit = std::move(onQuit);
    impl_->source = g_unix_fd_source_new(platform::MessageQueueDescriptor(), G_IO_IN);
    // A modal dialog opened by a message handler runs a nested loop inside this source's
    // callback; the queue must still be served there (a worker may be blocked in a send).
    g_source_set_can_recurse(impl_->source, TRUE);
    g_source_set_callback(impl_->source, reinterpret_cast<GSourceFunc>(&Impl::OnInput), impl_.get(),
                          nullptr);
    g_source_attach(impl_->source, nullptr);
}

MessagePump::~MessagePump() {
    g_source_destroy(impl_->source);
    g_source_unref(impl_->source);
}

struct ModalLoop::Impl {
    GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
    int code = 0;
    ~Impl() { g_main_loop_unref(loop); }
};

ModalLoop::ModalLoop() : impl_(std::make_unique<Impl>()) {}
ModalLoop::~ModalLoop() = default;

int ModalLoop::Run() {
    g_main_loop_run(impl_->loop);
    return impl_->code;
}

void ModalLoop::End(int code) {
    impl_->code = code;
    g_main_loop_quit(impl_->loop);
}

bool ModalLoop::running() const { return g_main_loop_is_running(impl_->loop) != FALSE; }

void ProcessPendingEvents() {
    while (g_main_context_iteration(nullptr, FALSE)) {
    }
}

void EndProcessNow(int code) {
    std::fflush(stdout);
    std::fflush(stderr);
    _exit(code);
}

Timer::~Timer() { Stop(); }

void Timer::Start(uint32_t periodMs, std::function<void()> onTick) {
    Stop();
    onTick_ = std::move(onTick);
    source_ = g_timeout_add(periodMs, reinterpret_cast<GSourceFunc>(&Timer::Tick), this);
}

void Timer::Stop() {
    if (source_ != 0) g_source_remove(source_);
    source_ = 0;
}

int Timer::Tick(void* self) {
    auto* timer = static_cast<Timer*>(self);
    // The handler may stop or restart this timer, or end its owner: copy first.
    std::function<void()> tick = timer->onTick_;
    tick();
    // A stopped or restarted timer has had this source removed already.
    return G_SOURCE_CONTINUE;
}

}  // namespace platform::ui
