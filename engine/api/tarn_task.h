// One download task of the C interface: its own thread with a message queue, driven by
// thread messages; the status block that callers copy; the transfer that does the work and
// the lookup asked beside it.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "engine/multi_source_transfer.h"
#include "platform/event.h"
#include "platform/messages.h"
#include "quillgate/tarn.h"
#include "tarn_lookup.h"
#include "tarn_settings.h"

namespace tarn {

inline constexpr uint32_t kMsgStart = 0x400;
inline constexpr uint32_t kMsgSyncCall = 0x900;
inline constexpr uint32_t kMsgInnerFirst = 0x1401;
inline constexpr uint32_t kMsgCancel = 0x1430;
inline constexpr uint32_t kMsgSetFileName = 0x1431;  // lParam: const std::string*
inline constexpr uint32_t kMsgPause = 0x1432;
inline constexpr uint32_t kMsgLookupAnswered = 0x1433;
inline constexpr uint32_t kMsgInnerLast = 0x1441;
inline constexpr uint32_t kMsgSourceEnded = TARN_MSG_ENDED;

// Roles select which messages the thread handles.
enum Role : int32_t { kRoleIdle = 0, kRoleDownload = 1, kRoleList = 2, kRoleCount = 8 };

// A call run on the task's thread while the caller waits for `done`.
struct SyncCall {
    platform::Event done{true, false};
    intptr_t result = 0;
    uint32_t message = 0;
    uintptr_t wParam = 0;
    intptr_t lParam = 0;
};

}  // namespace tarn

struct TarnTask {
    std::mutex lock;
    unsigned char status[TARN_STATUS_BLOCK_SIZE] = {};  // guarded by lock
    // Set up by the caller before a start, read by the thread (guarded by lock).
    std::string caller;
    uint64_t window = 0;
    uint32_t callbackValue = 0;
    bool blockMessages = false;  // TARN_MSG_STARTED also as data arrives
    uint32_t downloadMode = 0;
    std::string md5;
    std::vector<std::string> mirrors;  // TarnAddMirrors
    std::string fileName;
    std::string referer;
    std::vector<std::string> urls;
    bool resume = false;
    std::string blockListFile;  // TarnSetBlockList
    std::string blockListUrl;   // TarnSetBlockListUrl
    std::string blockListSha256;
    int64_t sizeLimit = 0;  // TarnSetSizeLimit; 0: the engine's default

    std::atomic<int32_t> role{tarn::kRoleIdle};
    // The thread's queue while it takes calls; 0 once it no longer does. Changed under lock,
    // so that a call is either posted while the thread will still answer it, or not at all.
    std::atomic<uint32_t> threadId{0};
    std::thread thread;                    // guarded by lock
    platform::Event finished{true, true};  // reset while a thread runs

    // Owned by the task's thread.
    std::unique_ptr<engine::MultiSourceTransfer> transfer;
    BackgroundLookup lookup;
    std::string currentUrl;  // the URL the transfer was started for ("" when resumed)
    // The transfer ran out of sources while the lookup was still out: the end waits for
    // its answer, which may name sources that can serve what the caller's could not.
    bool endAwaitsLookup = false;
    // An answer that came when the transfer had failed already (its end on the way): the
    // one more run it earns takes it from its start.
    std::optional<LookupSources> lateAnswer;
    size_t listIndex = 0;
    int64_t lastReported = -1;
    platform::WindowHandle timerWindow = platform::kNoWindow;
    std::string publishedKey;
    int64_t publishedLength = 0;
    // The lookup is asked again now and then while the transfer runs, for peers that have
    // begun since; sooner while each answer names new ones.
    bool firstLookupOut = false;  // the ask that started with the transfer is still out
    std::chrono::steady_clock::time_point nextLookup{};
    std::chrono::seconds lookupInterval{0};

    // Starts the thread for a download of `role`; false when one already runs.
    bool Launch(int32_t role);
    // Runs `message` on the task's thread and waits for its result, handling the sends to
    // the calling thread's windows meanwhile (the task's thread may be sending to one of
    // them). False when no thread takes calls.
    bool Call(uint32_t message, uintptr_t wParam, intptr_t lParam, intptr_t& result);
    void Wait();

  private:
    void Run();
    void Handle(const platform::Message& m);
    intptr_t HandleForRole(uint32_t message, uintptr_t wParam, intptr_t lParam);
    intptr_t Stop(uint32_t message);
    void OnStart();
    // Starts a transfer of `url` ("": the one in the resume state) and asks the lookup beside
    // it, or gives it the lookup's answer already in.
    bool StartTransfer(const std::string& url, const LookupSources* answered);
    void OnTimer();
    void AskLookupAgain(const engine::TransferStatus& st);
    void OnLookupAnswered();
    void OnSourceEnded(engine::TransferEnd end);
    void RunAgainWithLookup(const LookupSources& answer);
    void EndAfterFailure();
    void Finish(int32_t endCode, uint32_t state);
    void Notify(uint32_t message, intptr_t lParam);
    void Publish();
};
