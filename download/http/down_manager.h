// One download of one URL to one local file: checks the address, runs the transfer on its
// own one-thread pool into a part file beside the destination (destination +
// kDownloadPartSuffix), renames the finished part over the destination and signals the
// end through an event and the owner's callback. A download that fails removes its part
// and leaves the destination as it was.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>

#include "download/http/down_ant.h"
#include "download/http/thread_pool.h"
#include "platform/event.h"

namespace DOWNANT {

// What the owner's callback is told; a and b per kind.
enum ManagerEvent : uint32_t {
    MANAGER_STATE_CHANGED = 0,  // a = phase, b = state
    MANAGER_PART_CREATED = 1,   // b = the transfer (CDownAnt*)
    MANAGER_TEXT = 2,           // b = a NUL-terminated GBK text, valid during the call
    MANAGER_SIZE_KNOWN = 3,     // a = low 32 bits of the total size, b = part count
    MANAGER_PROGRESS = 4,       // b = low 32 bits of the bytes reached
};
using OwnerCallback = uint32_t (*)(void* ownerContext, uint32_t kind, uintptr_t a, uintptr_t b);

// Manager states; the phase of each in the comment (0 idle, 1 running, 2 done, 3 failed).
enum ManagerState : uint32_t {
    MANAGER_NONE = 0,             // 0
    MANAGER_READY = 1,            // 0
    MANAGER_BAD_ADDRESS = 2,      // 0
    MANAGER_STARTED = 3,          // 1
    MANAGER_LOOKING_UP = 4,       // 1
    MANAGER_ASSEMBLING = 5,       // 1 the finished part is being put in place
    MANAGER_DONE = 6,             // 2 the file is complete at the destination
    MANAGER_ASSEMBLE_FAILED = 7,  // 3 the part could not be put in place
    MANAGER_TRANSFER_FAILED = 8,  // 3
    MANAGER_TOO_LARGE = 9,        // 3 the file passed the size cap
};

// Thread safety: `SetTask`, `Start`, `Stop`, `Wait` and the destructor belong to one
// owner thread; the read-outs may be called from any thread. The owner callback runs on
// the pool thread (and, for the states set by `SetTask` and `Start`, on the owner's).
// Failure: reported through the states, never thrown.
class CDownManager {
  public:
    CDownManager();
    // Stops a running transfer, waits for it (handling messages sent to the calling
    // thread meanwhile) and removes the part file of an unfinished download.
    virtual ~CDownManager();
    CDownManager(const CDownManager&) = delete;
    CDownManager& operator=(const CDownManager&) = delete;

    // Takes the URL (at most 2083 bytes) and the destination (GBK, at most 259 bytes);
    // state 1, or 2 when either is empty, too long or the URL unusable. True for 1.
    bool SetTask(const char* url, const char* destination, OwnerCallback callback,
                 void* ownerContext);
    // Starts the transfer after a successful `SetTask`; with `wait`, returns when it ended.
    void Start(bool wait);
    // false: asks the running transfer to stop (it ends as failed, state 8).
    // true: also shuts the pool down, waiting for the transfer to return.
    void Stop(bool shutDown);
    // Without pumping: whether the download has ended since the last successful wait.
    // With pumping: waits until it has, dispatching the calling thread's messages; true.
    bool Wait(bool pumpMessages);

    uint32_t Phase() const { return phase_.load(); }
    uint32_t State() const { return state_.load(); }
    int64_t TotalSize() const { return totalSize_.load(); }
    int64_t ReceivedEstimate() const { return receivedEstimate_.load(); }
    uint32_t Speed() const { return speed_.load(); }
    // Native path of the current task's part file (empty before a successful `SetTask`).
    const std::string& PartFilePath() const { return partNativePath_; }
    // errno of the local operation (creating, writing, syncing or renaming the file) that
    // failed the last download; 0 when none did.
    int LocalError() const { return localError_.load(); }

    // What the following transfers are given (time-outs, rate floor, size cap, ...).
    void SetSettings(const TransferSettings& settings) { settings_ = settings; }
    const TransferSettings& Settings() const { return settings_; }
    void SetNoDataTimeout(uint32_t seconds) { settings_.noDataTimeoutSeconds = seconds; }

  private:
    struct Part {
        CDownAnt* transfer = nullptr;  // guarded by partLock_; null once it has ended
        int64_t firstBlock = 0;        // in 4096-byte blocks
        int64_t endBlock = 0;          // 0: none
        int64_t blockReached = -1;
        char path[272] = {};  // GBK: the destination (at most 259 bytes) and the suffix
    };

    static uint32_t OnTransferEvent(void* context, CDownAnt* transfer);
    uint32_t HandleTransferEvent(CDownAnt* transfer);
    uint32_t OnProgress(CDownAnt* transfer);
    void ChangeState(uint32_t state);
    void Text(const char* gbk);
    void Assemble();
    void TransferFailed(uint32_t state = MANAGER_TRANSFER_FAILED);
    void EndPart();
    void Call(uint32_t kind, uintptr_t a, uintptr_t b);

    std::atomic<uint32_t> phase_{0};
    std::atomic<uint32_t> state_{MANAGER_NONE};
    char url_[2084] = {};
    char destination_[260] = {};
    void* ownerContext_ = nullptr;
    CThreadPool pool_{1, 100};
    Part part_;
    std::atomic<int32_t> partCount_{0};
    std::atomic<int64_t> totalSize_{0};
    std::atomic<int64_t> receivedEstimate_{0};
    std::chrono::steady_clock::time_point startTicks_{};
    std::atomic<uint32_t> speed_{0};
    OwnerCallback ownerCallback_ = nullptr;
    char message_[260] = {};
    std::string destinationNativePath_;
    std::string partNativePath_;
    std::atomic<int> localError_{0};
    platform::Event doneEvent_{false, false};
    uint32_t copying_ = 0;
    std::mutex lock_;      // held while a transfer's callback is handled
    std::mutex partLock_;  // guards part_.transfer against the transfer's end
    TransferSettings settings_;
};

}  // namespace DOWNANT
