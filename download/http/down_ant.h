// One HTTP transfer of the downloader: fetches a URL from offset `rangeStart` into a local
// (part) file on a pool thread, reporting every state change and every piece written to
// its owner through a callback.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "download/body_observer.h"
#include "download/http/thread_pool.h"
#include "platform/file.h"
#include "platform/http_transfer.h"
#include "platform/url_scheme.h"

namespace DOWNANT {

// Transfer states; the phase of each is in the comment (0 idle, 1 running, 2 done,
// 3 failed).
enum DOWN_STATE : uint32_t {
    DOWN_STATE_NONE = 0,                  // 0
    DOWN_STATE_READY = 1,                 // 0 task set, URL parsed
    DOWN_STATE_BAD_TASK = 2,              // 0 URL or path missing or unparsable
    DOWN_STATE_REQUEST_OPENED = 3,        // 1
    DOWN_STATE_RESOLVING = 4,             // 1
    DOWN_STATE_RESOLVED = 5,              // 1
    DOWN_STATE_CONNECTING = 6,            // 1
    DOWN_STATE_CONNECTED = 7,             // 1
    DOWN_STATE_REDIRECTED = 8,            // 1
    DOWN_STATE_HEADERS_READ = 9,          // 1 size known if the server sent it
    DOWN_STATE_RECEIVING = 10,            // 1
    DOWN_STATE_COMPLETE = 11,             // 2 the body ended where it should
    DOWN_STATE_STOPPED_COMPLETE = 12,     // 2 the owner asked to stop here as complete
    DOWN_STATE_ABORTED = 13,              // 3 stop flag, or the owner asked to abort
    DOWN_STATE_TIMED_OUT = 14,            // 3
    DOWN_STATE_FILE_CREATE_FAILED = 15,   // 3
    DOWN_STATE_OPEN_FAILED = 16,          // 3 no session
    DOWN_STATE_CALLBACK_FAILED = 17,      // 3 the status callbacks could not be installed
    DOWN_STATE_CONNECT_FAILED = 18,       // 3
    DOWN_STATE_REQUEST_FAILED = 19,       // 3 the request could not be opened
    DOWN_STATE_SEND_FAILED = 20,          // 3 lookup, connection or sending failed
    DOWN_STATE_STATUS_UNREADABLE = 21,    // 3
    DOWN_STATE_PROXY_AUTH_REQUIRED = 22,  // 3 status 407
    DOWN_STATE_AUTH_REQUIRED = 23,        // 3 status 401
    DOWN_STATE_BAD_STATUS = 24,           // 3 any other status than 200
    DOWN_STATE_READ_FAILED = 25,          // 3 the body broke off or fell short
    DOWN_STATE_WRITE_FAILED = 26,         // 3 writing, syncing or closing the file failed
    DOWN_STATE_TOO_LARGE = 27,            // 3 the declared length or the body passed the cap
};

// How a transfer behaves beyond its task; the owner hands it over before submission.
struct TransferSettings {
    // A body that stops arriving ends after this long.
    uint32_t noDataTimeoutSeconds = 60;
    uint32_t connectTimeoutSeconds = 30;
    // A body that arrives, but slower than this on average over a whole window, ends as
    // timed out too (a server dripping a byte now and then never trips the no-data
    // time-out). 1 KiB/s over a minute: GPRS and dial-up links stay several times above
    // it, and a minute absorbs their pauses; a link below it for a whole minute would take
    // more than a day for a patch package. 0 bytes: no floor.
    uint32_t minimumBytesPerSecond = 1024;
    uint32_t minimumRateWindowSeconds = 60;
    // A declared length or a body past this many bytes fails the transfer; 0: no cap.
    int64_t sizeLimit = 0;
    std::string caFile;  // trusted certificate authorities; empty: the system's store
    std::string proxy;   // empty: the environment's
    platform::IFileSystem* fileSystem = nullptr;  // where the file is written; null: the system
    IBodyObserver* bodyObserver = nullptr;        // sees the body as it is written
};

// Phase of a transfer state.
uint32_t PhaseOfDownState(uint32_t state);

class CDownAnt;
// What the owner returns from its callback.
enum OwnerResult : uint32_t { OWNER_GO_ON = 0, OWNER_ABORT = 1, OWNER_STOP_COMPLETE = 2 };
using TransferCallback = uint32_t (*)(void* ownerContext, CDownAnt* transfer);

// Lifecycle: created by its owner, handed to a pool with `Submit`, deleted by the pool
// after `Execute`. Thread safety: `SetTask` and the set-up calls before submission belong
// to the owner; afterwards only `RequestStop` may be called from another thread; the
// read-outs are for the owner's callback, which runs on the pool thread.
class CDownAnt : public CThreadRequest, private platform::HttpTransferEvents {
  public:
    static constexpr const char* kUserAgent = "DOWN_ANT_BY_RUVE";
    static constexpr uint32_t kNoTimeout = 0xFFFFFFFF;

    explicit CDownAnt(uint32_t partIndex);
    ~CDownAnt() override;

    // Takes the URL (at most 2083 bytes) and the local file (at most 259), and parses the
    // URL. Sets state 1, or 2 with its message when either is missing, too long or the
    // URL cannot be parsed; notifies either way. True for state 1.
    bool SetTask(const char* url, const char* localPath, TransferCallback callback,
                 void* ownerContext);

    void Execute(void* threadContext) override;
    // Sets the phase from the state, closes the file when the transfer has ended, and
    // calls the owner.
    virtual void Notify();

    // Any thread: the transfer ends with state 13 at its next check (at the latest about
    // a second later, also while nothing arrives).
    void RequestStop() { stopFlag_.store(1, std::memory_order_relaxed); }
    // Set-up before submission.
    void SetOwned(uint32_t owned) { owned_ = owned; }
    void SetRangeStart(int64_t rangeStart) { rangeStart_ = rangeStart; }
    void SetSettings(const TransferSettings& settings) { settings_ = settings; }
    void SetNoDataTimeout(uint32_t seconds) { settings_.noDataTimeoutSeconds = seconds; }

    uint32_t PartIndex() const { return partIndex_; }
    uint32_t Phase() const { return phase_; }
    uint32_t State() const { return state_; }
    bool SizeKnown() const { return sizeKnown_ != 0; }
    int64_t FileSize() const { return fileSize_; }
    int64_t Received() const { return received_; }
    const char* Host() const { return host_; }
    const char* Message() const { return message_; }
    // errno of the local file operation that failed the transfer; 0 when none did.
    int LocalError() const { return localError_; }

  private:
    void SetState(uint32_t state);
    // The abort check after each step; true when it ended the transfer.
    bool AbortCheck();
    void CloseFile();

    // Network phases, on the pool thread.
    void OnResolving(const std::string& host) override;
    void OnConnecting() override;
    void OnConnected() override;
    void OnRedirect(long status, const std::string& location) override;
    bool OnResponse(long status, int64_t contentLength) override;
    bool OnBody(const char* data, size_t size) override;
    bool OnTick() override;
    void Finish(const platform::HttpResult& result);
    // Ends the transfer with state 26 and the errno of the failed file operation.
    void FailWrite(int error);
    void FailTooLarge();

    uint32_t owned_ = 0;
    const uint32_t partIndex_;
    uint32_t phase_ = 0;
    uint32_t state_ = DOWN_STATE_NONE;
    char url_[2084] = {};
    std::string canonicalUrl_;  // the URL as requested, unsafe bytes escaped
    // The part file's name is the destination's (at most 259 bytes) plus a short suffix.
    char localPath_[272] = {};
    void* ownerContext_ = nullptr;
    platform::UrlScheme scheme_ = platform::UrlScheme::Unknown;
    char host_[260] = {};
    char object_[2084] = {};
    uint32_t port_ = 80;
    uint32_t ownerResult_ = OWNER_GO_ON;
    std::atomic<uint32_t> stopFlag_{0};
    uint32_t timeoutSeconds_ = kNoTimeout;
    std::chrono::steady_clock::time_point startTicks_{};
    TransferSettings settings_;
    uint32_t sizeKnown_ = 0;
    int64_t fileSize_ = 0;
    int64_t rangeStart_ = 0;
    int64_t received_ = 0;
    std::unique_ptr<platform::IFile> file_;
    int localError_ = 0;
    TransferCallback ownerCallback_ = nullptr;
    char message_[260] = {};
};

}  // namespace DOWNANT
