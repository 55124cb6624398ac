#include "platform/messages.h"

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

#include "platform/poll_wait.h"
#include "platform/thread_queue.h"

namespace platform {
namespace {

using detail::PendingSend;
using detail::ThreadQueue;

struct WindowRecord {
    WindowProc proc;
    std::shared_ptr<ThreadQueue> owner;
    intptr_t userData = 0;
};

// Process-wide tables. Deliberately never destroyed: threads may still send while the
// process is ending, after static destructors would have run.
struct Registry {
    std::mutex mutex;
    std::map<std::string, WindowProc, std::less<>> classes;
    std::unordered_map<uint64_t, WindowRecord> windows;
    std::unordered_map<uint32_t, std::weak_ptr<ThreadQueue>> threads;
    uint64_t nextWindow = 1;
    uint32_t nextThread = 1;
};

Registry& TheRegistry() {
    static Registry* registry = new Registry;
    return *registry;
}

void EndQueue(const std::shared_ptr<ThreadQueue>& queue);

// Owns the calling thread's queue and ends it when the thread ends.
struct QueueHolder {
    std::shared_ptr<ThreadQueue> queue;
    ~QueueHolder() {
        if (queue) EndQueue(queue);
    }
};

thread_local QueueHolder tlsQueue;

ThreadQueue& OwnQueue() {
    if (!tlsQueue.queue) {
        Registry& r = TheRegistry();
        std::lock_guard<std::mutex> lock(r.mutex);
        tlsQueue.queue = std::make_shared<ThreadQueue>(r.nextThread++);
        r.threads[tlsQueue.queue->Id()] = tlsQueue.queue;
    }
    return *tlsQueue.queue;
}

void EndQueue(const std::shared_ptr<ThreadQueue>& queue) {
    Registry& r = TheRegistry();
    {
        std::lock_guard<std::mutex> lock(r.mutex);
        std::erase_if(r.windows, [&](const auto& entry) { return entry.second.owner == queue; });
        r.threads.erase(queue->Id());
    }
    for (PendingSend* send : queue->Shutdown()) ThreadQueue::Complete(send, false, 0);
}

bool LookUp(WindowHandle window, WindowRecord& out) {
    Registry& r = TheRegistry();
    std::lock_guard<std::mutex> lock(r.mutex);
    auto it = r.windows.find(static_cast<uint64_t>(window));
    if (it == r.windows.end()) return false;
    out = it->second;
    return true;
}

bool OwnedByCaller(const WindowRecord& record) {
    return tlsQueue.queue && record.owner == tlsQueue.queue;
}

// Runs an incoming send on the owner thread and wakes its sender.
void HandleSend(PendingSend* send) {
    WindowRecord record;
    if (!LookUp(send->message.window, record) || !OwnedByCaller(record)) {
        ThreadQueue::Complete(send, false, 0);
        return;
    }
    const Message& m = send->message;
    const intptr_t result = record.proc(m.window, m.message, m.wParam, m.lParam);
    ThreadQueue::Complete(send, true, result);
}

void HandleAllSends(ThreadQueue& queue) {
    while (PendingSend* send = queue.PopSend()) HandleSend(send);
}

}  // namespace

intptr_t DefWindowProc(WindowHandle, uint32_t, uintptr_t, intptr_t) { return 0; }

bool RegisterWindowClass(std::string_view className, WindowProc proc) {
    if (className.empty() || proc == nullptr) return false;
    Registry& r = TheRegistry();
    std::lock_guard<std::mutex> lock(r.mutex);
    auto [it, inserted] = r.classes.emplace(std::string(className), proc);
    return inserted || it->second == proc;
}

WindowHandle CreateMessageWindow(std::string_view className) {
    OwnQueue();
    Registry& r = TheRegistry();
    std::lock_guard<std::mutex> lock(r.mutex);
    auto cls = r.classes.find(className);
    if (cls == r.classes.end()) return kNoWindow;
    const uint64_t id = r.nextWindow++;
    r.windows[id] = WindowRecord{cls->second, tlsQueue.queue, 0};
    return static_cast<WindowHandle>(id);
}

bool DestroyMessageWindow(WindowHandle window) {
    Registry& r = TheRegistry();
    {
        std::lock_guard<std::mutex> lock(r.mutex);
        auto it = r.windows.find(static_cast<uint64_t>(window));
        if (it == r.windows.end() || !tlsQueue.queue || it->second.owner != tlsQueue.queue) {
            return false;
        }
        r.windows.erase(it);
    }
    tlsQueue.queue->KillTimersOf(window);
    // Sends already queued for the window find it gone when they are handled and fail.
    return true;
}

bool IsWindowAlive(WindowHandle window) {
    WindowRecord record;
    return LookUp(window, record);
}

bool SetWindowUserData(WindowHandle window, intptr_t value) {
    Registry& r = TheRegistry();
    std::lock_guard<std::mutex> lock(r.mutex);
    auto it = r.windows.find(static_cast<uint64_t>(window));
    if (it == r.windows.end()) return false;
    it->second.userData = value;
    return true;
}

intptr_t GetWindowUserData(WindowHandle window) {
    WindowRecord record;
    return LookUp(window, record) ? record.userData : 0;
}

std::optional<intptr_t> SendMessage(WindowHandle window, uint32_t message, uintptr_t wParam,
                                    intptr_t lParam) {
    WindowRecord record;
    if (!LookUp(window, record)) return std::nullopt;
    ThreadQueue& own = OwnQueue();
    if (record.owner.get() == &own) return record.proc(window, message, wParam, lParam);

    PendingSend send;
    send.message = Message{window, message, wParam, lParam};
    send.sender = tlsQueue.queue;
    if (!record.owner->EnqueueSend(&send)) return std::nullopt;
    record.owner.reset();
    // While waiting, serve sends to our own windows: the receiver may be sending to us.
    while (!own.IsDone(send)) {
        if (PendingSend* incoming = own.PopSend()) {
            HandleSend(incoming);
        } else {
            own.WaitSync(-1);
        }
    }
    if (!send.delivered) return std::nullopt;
    return send.result;
}

bool PostMessage(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
    WindowRecord record;
    if (!LookUp(window, record)) return false;
    return record.owner->Post(Message{window, message, wParam, lParam});
}

uint32_t CurrentThreadId() { return OwnQueue().Id(); }

bool PostThreadMessage(uint32_t threadId, uint32_t message, uintptr_t wParam, intptr_t lParam) {
    std::shared_ptr<ThreadQueue> queue;
    {
        Registry& r = TheRegistry();
        std::lock_guard<std::mutex> lock(r.mutex);
        auto it = r.threads.find(threadId);
        if (it != r.threads.end()) queue = it->second.lock();
    }
    return queue && queue->Post(Message{kNoWindow, message, wParam, lParam});
}

bool GetMessage(Message& out) {
    ThreadQueue& own = OwnQueue();
    for (;;) {
        HandleAllSends(own);
        if (own.PopInput(out, true)) return out.message != WM_QUIT;
        if (own.IsDead()) return false;
        own.WaitAny(-1, -1);
    }
}

bool PeekMessage(Message& out, bool remove) {
    ThreadQueue& own = OwnQueue();
    HandleAllSends(own);
    return own.PopInput(out, remove);
}

intptr_t DispatchMessage(const Message& message) {
    if (message.window == kNoWindow) return 0;
    WindowRecord record;
    if (!LookUp(message.window, record) || !OwnedByCaller(record)) return 0;
    return record.proc(message.window, message.message, message.wParam, message.lParam);
}

void PostQuitMessage(int exitCode) {
    OwnQueue().Post(Message{kNoWindow, WM_QUIT, static_cast<uintptr_t>(exitCode), 0});
}

WaitResult MsgWaitForEvent(Event& event, uint32_t timeoutMs) {
    ThreadQueue& own = OwnQueue();
    Deadline deadline(timeoutMs);
    for (;;) {
        if (event.TryWait()) return WaitResult::Signalled;
        if (own.HasInput()) return WaitResult::Input;
        own.WaitAny(event.PollDescriptor(), deadline.RemainingForPoll());
        if (deadline.Expired()) {
            if (event.TryWait()) return WaitResult::Signalled;
            return own.HasInput() ? WaitResult::Input : WaitResult::Timeout;
        }
    }
}

void WaitPumpingMessages(Event& event) {
    bool quit = false;
    int quitCode = 0;
    while (MsgWaitForEvent(event, kInfinite) != WaitResult::Signalled) {
        Message m;
        while (PeekMessage(m, true)) {
            if (m.message == WM_QUIT) {
                quit = true;
                quitCode = static_cast<int>(m.wParam);
                continue;
            }
            DispatchMessage(m);
        }
    }
    if (quit) PostQuitMessage(quitCode);
}

void WaitHandlingSends(Event& event) {
    ThreadQueue& own = OwnQueue();
    while (!event.TryWait()) {
        if (PendingSend* incoming = own.PopSend()) {
            HandleSend(incoming);
        } else {
            own.WaitSync(event.PollDescriptor());
        }
    }
}

bool SetTimer(WindowHandle window, uintptr_t id, uint32_t periodMs) {
    WindowRecord record;
    if (!LookUp(window, record) || !OwnedByCaller(record)) return false;
    return tlsQueue.queue->SetTimer(window, id, periodMs);
}

bool KillTimer(WindowHandle window, uintptr_t id) {
    return tlsQueue.queue && tlsQueue.queue->KillTimer(window, id);
}

int MessageQueueDescriptor() { return OwnQueue().Descriptor(); }

void ShutdownMessageQueue() {
    if (tlsQueue.queue) EndQueue(tlsQueue.queue);
}

}  // namespace platform
