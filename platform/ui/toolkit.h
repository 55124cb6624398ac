// The toolkit's main loop on the launcher's main thread, and the pieces that run inside it:
// the message layer's pump, nested modal loops and timers.
//
// Threading: everything here runs on the thread that called `InitToolkit` (the UI
// thread). Other threads reach that thread only through the message layer
// (platform/messages.h), whose queue the pump drains from inside every loop, nested
// modal loops included, so a worker blocked in a send is served while a dialog is up.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

namespace platform::ui {

// True when a display could be opened. Call once, on the main thread, before any window.
bool InitToolkit();

// Whether the environment names a display at all (no connection is tried).
bool DisplayNamed();

// Runs the calling thread's message layer inside the toolkit's loops: sent messages are
// handled and posted ones dispatched as soon as they arrive. `onQuit` runs when a
// WM_QUIT is taken from the queue.
class MessagePump {
  public:
    explicit MessagePump(std::function<void()> onQuit);
    ~MessagePump();
    MessagePump(const MessagePump&) = delete;
    MessagePump& operator=(const MessagePump&) = delete;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// One level of the toolkit's loop: `Run` returns the code given to `End`.
class ModalLoop {
  public:
    ModalLoop();
    ~ModalLoop();
    ModalLoop(const ModalLoop&) = delete;
    ModalLoop& operator=(const ModalLoop&) = delete;
    int Run();
    void End(int code);
    bool running() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// Runs pending toolkit work (drawing, events) without blocking; for tests and start-up.
void ProcessPendingEvents();

// Ends the process at once with `code`, without waiting for other threads or running
// destructors: for a window that closed while a worker is in the middle of a download.
[[noreturn]] void EndProcessNow(int code);

// A repeating timer of the UI thread; stopped when the object ends.
class Timer {
  public:
    Timer() = default;
    ~Timer();
    Timer(const Timer&) = delete;
    Timer& operator=(const Timer&) = delete;
    void Start(uint32_t periodMs, std::function<void()> onTick);  // restarts when running
    void Stop();
    bool running() const { return source_ != 0; }

  private:
    static int Tick(void* self);
    uint32_t source_ = 0;
    std::function<void()> onTick_;
};

}  // namespace platform::ui
