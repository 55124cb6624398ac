#include "tarn_task.h"

#include <sys/time.h>

#include <algorithm>
#include <cstring>
#include <ctime>

#include "engine/logger.h"
#include "engine/peer_lookup.h"
#include "engine/resume_state.h"
#include "engine/source_line.h"
#include "platform/system_time.h"
#include "tarn_peers.h"

namespace {

constexpr uintptr_t kPollTimer = 1;
constexpr uint32_t kPollMs = 250;
// How often a running transfer asks the lookup again: soon while answers name new peers,
// less often while they do not.
constexpr std::chrono::seconds kFirstLookupAgain{2};
constexpr std::chrono::seconds kLongestLookupInterval{30};
constexpr const char* kTimerClass = "TarnTaskTimer";

intptr_t TimerProc(platform::WindowHandle w, uint32_t m, uintptr_t wp, intptr_t lp) {
    return platform::DefWindowProc(w, m, wp, lp);
}

TarnSystemTime LocalNow() {
    const platform::SystemTime now = platform::GetLocalTimeNow();
    static_assert(sizeof(TarnSystemTime) == sizeof(platform::SystemTime));
    TarnSystemTime t{};
    std::memcpy(&t, &now, sizeof t);
    return t;
}

template <typename T>
void Put(unsigned char* block, size_t offset, const T& value) {
    std::memcpy(block + offset, &value, sizeof value);
}

// The last source blamed for wrong bytes, and how many were.
void PutBlamed(unsigned char* block, const engine::TransferStatus& st) {
    Put(block, TARN_STATUS_BLAMED_OFFSET, static_cast<int32_t>(st.blamedSources));
    char url[TARN_STATUS_BLAMED_URL_SIZE] = {};
    std::memcpy(url, st.lastBlamed.data(), std::min(st.lastBlamed.size(), sizeof url - 1));
    std::memcpy(block + TARN_STATUS_BLAMED_URL_OFFSET, url, sizeof url);
}

uint32_t FailureCode(engine::TransferFailure failure) {
    switch (failure) {
        case engine::TransferFailure::None:
            break;
        case engine::TransferFailure::NoSource:
            return TARN_FAILURE_NO_SOURCE;
        case engine::TransferFailure::DigestMismatch:
            return TARN_FAILURE_DIGEST;
        case engine::TransferFailure::SizeLimit:
            return TARN_FAILURE_SIZE_LIMIT;
        case engine::TransferFailure::BlockList:
            return TARN_FAILURE_BLOCK_LIST;
        case engine::TransferFailure::DataFile:
            return TARN_FAILURE_DATA_FILE;
    }
    return TARN_FAILURE_NONE;
}

// Which messages a role handles; any other one reaching it is logged and dropped.
bool RoleHandles(int32_t role, uint32_t message) {
    switch (role) {
        case tarn::kRoleIdle:
            return message == tarn::kMsgStart || message == tarn::kMsgSetFileName;
        case tarn::kRoleDownload:
        case tarn::kRoleList:
            return message == platform::WM_TIMER || message == tarn::kMsgSourceEnded ||
                   (message >= tarn::kMsgInnerFirst && message <= tarn::kMsgInnerLast);
        default:
            return false;
    }
}

}  // namespace

bool TarnTask::Launch(int32_t newRole) {
    std::lock_guard<std::mutex> guard(lock);
    if (thread.joinable()) {
        if (threadId.load() != 0) return false;  // still running
        thread.join();
    }
    role = tarn::kRoleIdle;
    listIndex = 0;
    std::memset(status, 0, sizeof status);
    finished.Reset();
    platform::Event started(true, false);
    thread = std::thread([this, &started, newRole] {
        threadId = platform::CurrentThreadId();
        platform::PostThreadMessage(threadId.load(), tarn::kMsgStart,
                                    static_cast<uintptr_t>(newRole), 0);
        started.Set();
        Run();
    });
    started.Wait();
    return true;
}

bool TarnTask::Call(uint32_t message, uintptr_t wParam, intptr_t lParam, intptr_t& result) {
    tarn::SyncCall call;
    call.message = message;
    call.wParam = wParam;
    call.lParam = lParam;
    {
        std::lock_guard<std::mutex> guard(lock);
        const uint32_t id = threadId.load();
        if (id == 0 || !platform::PostThreadMessage(id, tarn::kMsgSyncCall, 0,
                                                    reinterpret_cast<intptr_t>(&call))) {
            return false;
        }
    }
    // The thread answers every call posted while it took calls. Meanwhile it may be sending
    // its notifications to a window of this thread: those are handled here.
    platform::WaitHandlingSends(call.done);
    result = call.result;
    return true;
}

void TarnTask::Wait() {
    std::thread::id self = std::this_thread::get_id();
    {
        std::lock_guard<std::mutex> guard(lock);
        if (!thread.joinable() || thread.get_id() == self) return;
    }
    // The thread may be sending its notifications to a window of this thread.
    platform::WaitHandlingSends(finished);
    std::unique_lock<std::mutex> guard(lock);
    if (!thread.joinable()) return;
    std::thread running = std::move(thread);
    guard.unlock();
    running.join();
}

void TarnTask::Run() {
    platform::RegisterWindowClass(kTimerClass, TimerProc);
    timerWindow = platform::CreateMessageWindow(kTimerClass);
    platform::Message m;
    while (platform::GetMessage(m)) Handle(m);
    lookup.Stop();
    if (transfer) transfer->Join();
    WithdrawPublished(publishedKey);
    transfer.reset();
    {
        std::lock_guard<std::mutex> guard(lock);
        threadId = 0;  // no call is posted to this queue from here on
    }
    // Calls posted before still get their answer; there is nothing left for them to change.
    while (platform::PeekMessage(m, true)) {
        if (m.message == tarn::kMsgSyncCall)
            reinterpret_cast<tarn::SyncCall*>(m.lParam)->done.Set();
    }
    platform::ShutdownMessageQueue();
    finished.Set();
}

void TarnTask::Handle(const platform::Message& m) {
    if (m.message == tarn::kMsgSyncCall) {
        auto* call = reinterpret_cast<tarn::SyncCall*>(m.lParam);
        call->result = HandleForRole(call->message, call->wParam, call->lParam);
        call->done.Set();
        return;
    }
    HandleForRole(m.message, m.wParam, m.lParam);
}

intptr_t TarnTask::HandleForRole(uint32_t message, uintptr_t wParam, intptr_t lParam) {
    const int32_t current = role.load();
    // Pause and cancel are taken in every role: a stop that arrives before the start or
    // after the end simply has nothing to stop.
    if (message == tarn::kMsgPause || message == tarn::kMsgCancel) return Stop(message);
    if (message == tarn::kMsgSetFileName) {
        const auto* name = reinterpret_cast<const std::string*>(lParam);
        if (current != tarn::kRoleIdle || !name) return 0;
        std::lock_guard<std::mutex> guard(lock);
        fileName = *name;
        return 1;
    }
    // An answer queued before the end of the download it was asked for.
    if (message == tarn::kMsgLookupAnswered && current == tarn::kRoleIdle) return 0;
    if (current < 0 || current >= tarn::kRoleCount || !RoleHandles(current, message)) {
        engine::Logger::Instance().Log(engine::kLogLevelInvalidState, "Invalid m_state: %d",
                                       current);
        return 0;
    }
    if (message == tarn::kMsgStart) {
        role = static_cast<int32_t>(wParam);
        OnStart();
    } else if (message == platform::WM_TIMER) {
        OnTimer();
    } else if (message == tarn::kMsgLookupAnswered) {
        OnLookupAnswered();
    } else if (message == tarn::kMsgSourceEnded) {
        OnSourceEnded(static_cast<engine::TransferEnd>(wParam));
    }
    return 1;
}

intptr_t TarnTask::Stop(uint32_t message) {
    if (role.load() == tarn::kRoleIdle) return 0;
    if (endAwaitsLookup) {
        // The transfer has ended already: only the lookup is out, and nobody waits for it.
        endAwaitsLookup = false;
        lookup.Stop();
        const bool pause = message == tarn::kMsgPause;
        {
            std::lock_guard<std::mutex> guard(lock);
            Put(status, TARN_STATUS_FAILURE_OFFSET,
                pause ? uint32_t{TARN_FAILURE_NONE} : uint32_t{TARN_FAILURE_CANCELLED});
        }
        if (pause) {
            Finish(TARN_END_PAUSED, TARN_STATUS_PAUSED);
        } else {
            Finish(TARN_END_FAILED, TARN_STATUS_ENDED);
        }
        return 1;
    }
    if (!transfer) return 0;
    if (message == tarn::kMsgPause) {
        transfer->Pause();
    } else {
        transfer->Cancel();
    }
    return 1;
}

void TarnTask::Notify(uint32_t message, intptr_t lParam) {
    uint64_t target;
    uint32_t value;
    {
        std::lock_guard<std::mutex> guard(lock);
        target = window;
        value = callbackValue;
    }
    if (target == 0) return;
    platform::SendMessage(static_cast<platform::WindowHandle>(target), message, value, lParam);
}

void TarnTask::OnStart() {
    const TarnSystemTime now = LocalNow();
    std::string first, who, target;
    {
        std::lock_guard<std::mutex> guard(lock);
        Put(status, TARN_STATUS_START_TIME_OFFSET, now);
        Put(status, TARN_STATUS_STATE_OFFSET, uint32_t{TARN_STATUS_DOWNLOADING});
        Put(status, TARN_STATUS_RATIO_OFFSET, 1.0);
        if (!urls.empty()) first = urls.front();
        who = caller;
        target = fileName;
    }
    engine::Logger::Instance().Log(engine::kLogLevelInfo, "task for %s: %s -> %s",
                                   who.empty() ? "(no caller)" : who.c_str(),
                                   first.empty() ? "(resumed)" : first.c_str(), target.c_str());
    Notify(TARN_MSG_STARTED, 0);
    platform::SetTimer(timerWindow, kPollTimer, kPollMs);
    if (!StartTransfer(first, nullptr)) OnSourceEnded(engine::TransferEnd::Failed);
}

bool TarnTask::StartTransfer(const std::string& url, const LookupSources* answered) {
    lookup.Stop();
    lateAnswer.reset();
    const tarn::ProcessSettings settings = tarn::CurrentSettings();
    engine::TransferLimits limits;
    if (settings.perSource > 0) limits.connectionsPerSource = static_cast<int>(settings.perSource);
    if (settings.inAll > 0) limits.connectionsInAll = static_cast<int>(settings.inAll);
    engine::TransferRequest request;
    std::vector<std::string> extra;
    {
        std::lock_guard<std::mutex> guard(lock);
        request.target = fileName;
        request.referer = referer;
        request.md5 = md5;
        request.downloadMode = static_cast<int32_t>(downloadMode);
        request.resume = resume || role.load() == tarn::kRoleDownload;
        request.blockListFile = blockListFile;
        request.blockListUrl = blockListUrl;
        request.blockListSha256 = blockListSha256;
        request.sizeLimit = sizeLimit;
        extra = mirrors;
        Put(status, TARN_STATUS_FAILURE_OFFSET, uint32_t{TARN_FAILURE_NONE});  // not ended
    }
    std::string first = url;
    // A resumed task takes its URL from its state before the start, so that its mirrors
    // join as whole copies of the file from the first moment, and the lookup asks for it.
    engine::FileDescription saved;
    if (first.empty() && !request.target.empty() &&
        engine::ResumeFiles(request.target).LoadDescription(saved)) {
        first = saved.url;
        if (request.referer.empty()) request.referer = saved.referer;
        if (request.md5.empty()) request.md5 = saved.md5;
    }
    if (request.target.empty() || first.empty()) return false;
    const std::string target = request.target;
    request.urls.push_back(first);
    for (const std::string& m : extra)
        if (m != first) request.urls.push_back(m);
    if (transfer) transfer->Join();
    // The block server may be reading through the old transfer: stop that before it goes.
    WithdrawPublished(publishedKey);
    publishedKey.clear();
    publishedLength = 0;
    currentUrl = url;
    transfer = std::make_unique<engine::MultiSourceTransfer>(limits);
    const uint32_t self = threadId.load();
    const bool started = transfer->Start(std::move(request), [self](engine::TransferEnd end) {
        platform::PostThreadMessage(self, tarn::kMsgSourceEnded, static_cast<uintptr_t>(end), 0);
    });
    if (!started) return false;
    // The lookup is not trusted: its sources deliver only while their bytes can be checked,
    // and its peers only once the file's length is known (the transfer sees to both). It is
    // asked beside the transfer, so that the caller's URLs start at once; a start with its
    // answer already in does not ask again.
    // The block server runs before the lookup is asked: the request names its port.
    Publish();
    firstLookupOut = false;
    lookupInterval = kFirstLookupAgain;
    nextLookup = std::chrono::steady_clock::now() + lookupInterval;
    if (answered) {
        GiveLookupSources(*transfer, *answered);
    } else {
        lookup.Start(settings, first, target, self, tarn::kMsgLookupAnswered);
        firstLookupOut = lookup.pending();
    }
    return true;
}

void TarnTask::Publish() {
    std::string digest;
    {
        std::lock_guard<std::mutex> guard(lock);
        digest = md5;
    }
    WithdrawPublished(publishedKey);
    publishedKey = PublishHeld(*transfer, digest);
}

void TarnTask::OnTimer() {
    if (!transfer) return;
    const engine::TransferStatus st = transfer->status();
    bool eachBlock;
    {
        std::lock_guard<std::mutex> guard(lock);
        Put(status, TARN_STATUS_TOTAL_OFFSET, st.total);
        Put(status, TARN_STATUS_RECEIVED_OFFSET, st.received);
        Put(status, TARN_STATUS_SOURCES_OFFSET, static_cast<int32_t>(st.sourcesInUse));
        PutBlamed(status, st);
        eachBlock = blockMessages;
    }
    // The block server needs the length to answer ranges: publish again once it is known.
    if (st.total > 0 && publishedLength != st.total) {
        publishedLength = st.total;
        Publish();
    }
    if (st.received != lastReported) {
        lastReported = st.received;
        if (eachBlock) Notify(TARN_MSG_STARTED, st.sourcesInUse);
    }
    AskLookupAgain(st);
}

// Engines that began the same file since the last answer hold bytes by now: the lookup names
// them. Only while their bytes can be checked, and never while an answer is still out.
void TarnTask::AskLookupAgain(const engine::TransferStatus& st) {
    if (lookup.pending() || endAwaitsLookup || st.failure != engine::TransferFailure::None ||
        std::chrono::steady_clock::now() < nextLookup) {
        return;
    }
    bool checkable = st.blocksChecked;
    std::string target;
    {
        std::lock_guard<std::mutex> guard(lock);
        checkable = checkable || !md5.empty();
        target = fileName;
    }
    const tarn::ProcessSettings settings = tarn::CurrentSettings();
    if (!checkable || settings.lookupServer.empty() || st.url.empty()) return;
    lookup.Start(settings, st.url, target, threadId.load(), tarn::kMsgLookupAnswered);
}

void TarnTask::OnLookupAnswered() {
    std::optional<LookupSources> answer = lookup.TakeAnswer();
    if (!answer) return;  // from a lookup stopped since
    const bool first = firstLookupOut;
    firstLookupOut = false;
    if (endAwaitsLookup) {
        endAwaitsLookup = false;
        return RunAgainWithLookup(*answer);
    }
    // The running transfer decides when the lookup's sources may work (their bytes must be
    // checkable, peers wait for the length). One that has failed already cannot take them:
    // its end is on its way, and the answer to its first ask is kept for the run it earns.
    const int known = transfer ? transfer->status().sourcesKnown : 0;
    if (transfer && GiveLookupSources(*transfer, *answer)) {
        const bool newPeers = transfer->status().sourcesKnown > known;
        lookupInterval = newPeers
                             ? kFirstLookupAgain
                             : std::min(lookupInterval + kFirstLookupAgain, kLongestLookupInterval);
        nextLookup = std::chrono::steady_clock::now() + lookupInterval;
        return;
    }
    if (first) lateAnswer = std::move(answer);
}

// The caller's sources ran out before the lookup had answered: one more run, with the
// lookup's sources beside the caller's from its start (as the lookup's, never the caller's).
void TarnTask::RunAgainWithLookup(const LookupSources& answer) {
    if ((!answer.mirrors.empty() || !answer.peers.empty()) && StartTransfer(currentUrl, &answer))
        return;
    EndAfterFailure();
}

void TarnTask::OnSourceEnded(engine::TransferEnd end) {
    if (transfer) {
        const std::string error = transfer->lastError();
        if (!error.empty())
            engine::Logger::Instance().Log(engine::kLogLevelInfo, "%s", error.c_str());
        OnTimer();
        const uint32_t why = end == engine::TransferEnd::Cancelled
                                 ? uint32_t{TARN_FAILURE_CANCELLED}
                                 : FailureCode(transfer->status().failure);
        std::lock_guard<std::mutex> guard(lock);
        Put(status, TARN_STATUS_FAILURE_OFFSET, why);
    }
    if (end == engine::TransferEnd::Completed)
        return Finish(TARN_END_COMPLETED, TARN_STATUS_COMPLETED);
    if (end == engine::TransferEnd::Paused) return Finish(TARN_END_PAUSED, TARN_STATUS_PAUSED);
    if (end == engine::TransferEnd::Cancelled) return Finish(TARN_END_FAILED, TARN_STATUS_ENDED);
    // Sources the lookup names may serve where the caller's gave out; any other failure
    // is the file's, not the sources'.
    // A later ask only adds to a running transfer: it does not hold up the end.
    if (!firstLookupOut) lookup.Stop();
    if (transfer && transfer->status().failure == engine::TransferFailure::NoSource) {
        if (lookup.pending()) {
            endAwaitsLookup = true;  // bounded by the lookup's deadline; a stop ends it at once
            return;
        }
        if (lateAnswer) {
            const LookupSources answer = std::move(*lateAnswer);
            lateAnswer.reset();
            return RunAgainWithLookup(answer);
        }
    }
    EndAfterFailure();
}

void TarnTask::EndAfterFailure() {
    if (role.load() == tarn::kRoleList) {
        for (;;) {
            std::string next;
            {
                std::lock_guard<std::mutex> guard(lock);
                if (++listIndex >= urls.size()) break;
                next = urls[listIndex];
            }
            if (StartTransfer(next, nullptr)) return;
        }
        return Finish(TARN_END_LIST_FAILED, TARN_STATUS_ENDED);
    }
    Finish(TARN_END_FAILED, TARN_STATUS_ENDED);
}

void TarnTask::Finish(int32_t endCode, uint32_t state) {
    platform::KillTimer(timerWindow, kPollTimer);
    endAwaitsLookup = false;
    if (transfer) transfer->Join();
    if (endCode == TARN_END_COMPLETED && transfer) {
        // The file is at its name and checked: seeded from there for the seeding time.
        std::string target;
        {
            std::lock_guard<std::mutex> guard(lock);
            target = fileName;
        }
        FinishPublished(publishedKey, target, transfer->status().checked);
    } else {
        WithdrawPublished(publishedKey);
    }
    publishedKey.clear();
    publishedLength = 0;
    const TarnSystemTime now = LocalNow();
    {
        std::lock_guard<std::mutex> guard(lock);
        Put(status, TARN_STATUS_END_TIME_OFFSET, now);
        Put(status, TARN_STATUS_STATE_OFFSET, state);
    }
    role = tarn::kRoleIdle;
    Notify(TARN_MSG_ENDED, endCode);
    // The lookup, if still out, is stopped as the thread ends, right after this.
    platform::PostQuitMessage(0);
}
