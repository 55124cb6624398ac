// The one downloader interface of the launcher: a pipeline gives it a task (URL, local
// path, a window to notify and a tag), starts it and waits while pumping its own message
// queue; the backend reports state changes and progress by sending two messages to that
// window.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "download/body_observer.h"
#include "platform/messages.h"

// The first id of the downloader's range. No backend sends it; a notify window answers it
// as handled, as it does the two below.
inline constexpr uint32_t WM_DOWNLOAD_FIRST = 0x3400;
// Sent to the notify window: wParam = the task's tag, lParam = the new state code.
inline constexpr uint32_t WM_DOWNLOAD_STATE = 0x3401;
// Sent to the notify window when new bytes arrived: wParam = tag, lParam = 0; the
// receiver reads `GetProgress` and `GetSpeed`.
inline constexpr uint32_t WM_DOWNLOAD_PROGRESS = 0x3402;

// State codes: the high 16 bits are the phase, the low 16 bits a detail. Callers judge
// only the phase: finished means the file is complete at the local path.
inline constexpr uint32_t kDownloadPhaseMask = 0xFFFF0000;
inline constexpr uint32_t kDownloadPhaseIdle = 0x00000000;
inline constexpr uint32_t kDownloadPhaseRunning = 0x00010000;
inline constexpr uint32_t kDownloadPhaseFinished = 0x00020000;
inline constexpr uint32_t kDownloadPhaseFailed = 0x00030000;

enum DownloadState : uint32_t {
    DOWNLOAD_IDLE = 0x00000000,     // no task, or the HTTP transfer failed
    DOWNLOAD_READY = 0x00000001,    // task accepted, ready to start
    DOWNLOAD_REFUSED = 0x00000002,  // empty or malformed URL or path
    DOWNLOAD_RUNNING = 0x00010000,
    DOWNLOAD_ANNOUNCED = 0x00010001,  // engine backend: transfer announced as started
    DOWNLOAD_COPYING = 0x00010002,    // HTTP backend: the finished part is put in place
    DOWNLOAD_FINISHED = 0x00020000,
    DOWNLOAD_FAILED = 0x00030000,
    DOWNLOAD_FAILED_REASON1 = 0x00030001,    // engine backend
    DOWNLOAD_FAILED_REASON2 = 0x00030002,    // engine backend
    DOWNLOAD_FAILED_COPY = 0x00030003,       // engine reason 4, or HTTP: the part could not
                                             // be put in place
    DOWNLOAD_FAILED_TOO_LARGE = 0x00030004,  // HTTP: the file passed the size cap
};

// One per downloader, owned by it. `state` is written by the backend's thread and read by
// the caller's, hence atomic; the other fields change only on the caller's thread while
// nothing runs.
struct DownloadTask {
    platform::WindowHandle notifyWindow = platform::kNoWindow;  // none: no messages
    std::atomic<uint32_t> state{DOWNLOAD_IDLE};
    uint32_t tag = 0;
    std::string url;
    std::string localPath;  // GBK
};

// Calling order: SetTask → Start → Wait(true) → GetState; again from SetTask for the next
// file (or Reset first); Stop on cancel; delete at the end.
//
// Thread safety: SetTask, Reset, Start, Stop, Wait and the destructor belong to the
// caller's thread, which must own the notify window; GetState, GetProgress and GetSpeed
// may be called from any thread (the notify window's procedure calls them).
class CAutoDownload {
  public:
    CAutoDownload();
    virtual ~CAutoDownload();
    CAutoDownload(const CAutoDownload&) = delete;
    CAutoDownload& operator=(const CAutoDownload&) = delete;

    virtual uint32_t GetKind() = 0;
    virtual uint32_t GetState() = 0;
    // False in the idle phase (outputs untouched); else fills both and returns total != 0.
    virtual bool GetProgress(int64_t& total, int64_t& done) = 0;
    virtual uint32_t GetSpeed() = 0;  // bytes per second
    // False while running; otherwise takes the task (the state tells whether it was
    // accepted) and returns true.
    virtual bool SetTask(const char* url, const char* localPath,
                         platform::WindowHandle notifyWindow, uint32_t tag) = 0;
    virtual void Reset() = 0;
    // Starts only from the ready state; never waits.
    virtual void Start() = 0;
    virtual void Stop() = 0;
    // Without pumping: whether the download has ended. With pumping: returns once it has
    // (or at once when nothing runs), dispatching the caller's messages meanwhile.
    virtual bool Wait(bool pumpMessages) = 0;

    // Stores the code; when it changed and a notify window is set, sends WM_DOWNLOAD_STATE
    // with the value of GetState() read afterwards.
    void SetStateAndNotify(uint32_t code);

    // Added slots, after the original ones.
    // Caps the size of the following downloads: a declared length or a body past this many
    // bytes fails the download and nothing is kept at the local path. 0: no cap. The cap
    // holds until it is changed (Reset keeps it).
    virtual void SetSizeLimit(int64_t maxBytes) { sizeLimit_ = maxBytes; }
    // errno of the local operation (writing, syncing or putting the file in place) that
    // made the last download fail; 0 when it did not fail, or failed for another reason.
    virtual int GetLocalError() { return 0; }
    // Shows every byte of the following downloads to `observer` (null: nobody) as it is
    // written, on the download's thread; the observer must outlive those downloads and is
    // read only after Wait. False when this kind of downloader cannot show its bytes: the
    // caller reads the finished file instead. Kept across Reset, like the size cap.
    virtual bool SetBodyObserver(IBodyObserver* observer) {
        (void)observer;
        return false;
    }

    // Further servers that publish the same file as the task set last (SetTask forgets
    // them), all fetched from at once. False when this kind fetches from the task's URL
    // only: the caller then tries the others in turn itself.
    virtual bool SetMirrors(const std::vector<std::string>& urls) {
        (void)urls;
        return false;
    }
    // The SHA-256 (64 hex digits) of the block list published beside the task's file (its
    // URL + ".blocks"), for the task set last (SetTask forgets it): the file is then fetched
    // only with that list, and every block is checked against it before it is kept. False
    // when this kind does not check blocks.
    virtual bool SetBlockListSha256(const std::string& hex) {
        (void)hex;
        return false;
    }

  protected:
    DownloadTask* task_;
    int64_t sizeLimit_ = 0;
};
