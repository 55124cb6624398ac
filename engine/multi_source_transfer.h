// One file fetched at once from several sources that hold the same bytes: HTTP, HTTPS and
// FTP mirrors, and peers (other engines' block servers, reached over HTTP). The file is cut
// into blocks; each source fetches a region of blocks, and when a region ends the source
// takes over the largest open region (or the slow tail of another source's region). What
// arrives is written at its own offset into the task's data file, and the region map is
// saved every few seconds and when the transfer ends, so that a later transfer of the same
// target resumes from it (resume_state.h).
//
// Threads: Start returns at once; the transfer runs on threads of its own and calls `ended`
// exactly once, from one of them, after its last write and save. Pause, Cancel, AddSources
// and the status and block readers may be called from any thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace engine {

struct TransferLimits {
    int connectionsPerSource = 4;  // a source that refuses more keeps the number it took
    int connectionsInAll = 16;
    uint32_t saveIntervalMs = 3000;  // how often the region map is saved while running
    uint32_t noDataSeconds = 15;     // a connection that receives nothing this long ends
};

struct TransferRequest {
    std::string target;             // GBK path of the file to make
    std::vector<std::string> urls;  // the file's sources, first one first
    std::string referer;
    std::string md5;  // 32 hex digits, or empty: checked before the target is made
    int32_t downloadMode = 0;
    // Continue from the target's resume state when it describes the same file (same first
    // URL and, once known, the same length); otherwise start afresh.
    bool resume = false;
    // Filled from the resume state when `urls` is empty (a resumed task knows only its file).
};

enum class TransferEnd {
    Completed,  // the target holds the whole file (and its MD5 matched, when one was given)
    Failed,     // no source could deliver it, or the MD5 did not match: nothing at the target
    Paused,     // the resume state was saved; a later transfer continues from it
    Cancelled,  // stopped; the resume state was saved as for a pause
};

struct TransferStatus {
    int64_t total = 0;     // file length, 0 until a source has told it
    int64_t received = 0;  // bytes written and not given back
    int sourcesInUse = 0;  // sources with a connection open now
    int sourcesKnown = 0;
    std::string url;  // the first URL (from the request or the resume state)
};

class MultiSourceTransfer {
  public:
    explicit MultiSourceTransfer(TransferLimits limits = {});
    ~MultiSourceTransfer();  // cancels and waits for the transfer's threads
    MultiSourceTransfer(const MultiSourceTransfer&) = delete;
    MultiSourceTransfer& operator=(const MultiSourceTransfer&) = delete;

    // False (nothing started, `ended` never called) when a transfer already runs or the
    // request names no target.
    bool Start(TransferRequest request, std::function<void(TransferEnd)> ended);
    // Sources learned while running (a lookup's answer, peers); duplicates are ignored.
    void AddSources(const std::vector<std::string>& urls);
    void Pause();
    void Cancel();
    void Join();  // waits until the transfer's threads have ended (after `ended`)

    TransferStatus status() const;
    // What the last failure was, for the log; empty when none.
    std::string lastError() const;

    // For the block server: copies `size` bytes at `offset` when every one of them has
    // arrived and been written; false otherwise (nothing copied).
    bool ReadHeld(int64_t offset, size_t size, char* out) const;

  private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace engine
