// One file fetched at once from several sources that hold the same bytes: HTTP, HTTPS and
// FTP mirrors, and peers (other engines' block servers, reached over HTTP). The policy
// (which source fetches what) is engine/transfer/scheduler.h, the accounting of what is
// held engine/transfer/piece_map.h, the protocols engine/transfer/fetcher.h; this class
// runs them on threads. What arrives is written at its own offset into the task's data
// file, and the region map is saved every few seconds and when the transfer ends, so that
// a later transfer of the same target resumes from it (resume_state.h).
//
// Trust: the caller's URLs, its MD5 and what its first URL publishes beside the file (the
// block list, FILE_URL + ".blocks") are trusted; sources named by a lookup are used only
// while every byte they send can be checked: against a block list (each block as it
// arrives; a block that fails is never written and its source is dropped) or against the
// caller's MD5 (the whole file at the end; a failure is traced to the source that wrote the
// wrong bytes, which is dropped, and its bytes are fetched again from the others).
//
// Peers are asked for their held maps (engine/held_map.h) on a thread of the transfer's own,
// and again now and then while they are still downloading; a peer is asked only for bytes it
// holds.
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

#include "engine/transfer/piece_map.h"

namespace engine {

namespace transfer {
class TransferEnv;
}

// A file larger than this is refused unless the caller sets another limit.
inline constexpr int64_t kDefaultSizeLimit = int64_t{16} << 30;
// The most sources a task takes from lookups in all.
inline constexpr size_t kMaxLookupMirrors = 64;
inline constexpr size_t kMaxLookupPeers = 256;

struct TransferLimits {
    int connectionsPerSource = 4;  // a source that refuses more keeps the number it took
    int connectionsInAll = 16;
    uint32_t saveIntervalMs = 3000;        // how often the region map is saved while running
    uint32_t noDataSeconds = 15;           // a connection that receives nothing this long ends
    transfer::TransferEnv* env = nullptr;  // the clock and the sockets; null: the real ones
};

struct TransferRequest {
    std::string target;             // GBK path of the file to make
    std::vector<std::string> urls;  // the caller's sources of the file, first one first
    std::string referer;
    std::string md5;  // 32 hex digits, or empty: the whole file is checked against it
    int32_t downloadMode = 0;
    // Continue from the target's resume state when it describes the same file (same first
    // URL and, once known, the same length); otherwise start afresh.
    bool resume = false;
    // Filled from the resume state when `urls` is empty (a resumed task knows only its file).

    // The block list (engine/transfer/block_list.h): a local file (GBK path) or a URL;
    // neither: the first URL + ".blocks" when that answers with one. A list the caller
    // named, or one that `blockListSha256` (64 hex digits) describes, must be had and match,
    // or the transfer fails.
    std::string blockListFile;
    std::string blockListUrl;
    std::string blockListSha256;
    bool siblingBlockList = true;  // look for the first URL + ".blocks"
    // The most bytes the file may have (0: kDefaultSizeLimit): a longer file, or a source
    // that sends more without telling a length, ends the transfer (SizeLimit).
    int64_t sizeLimit = 0;
};

enum class TransferEnd {
    Completed,  // the target holds the whole file (and its MD5 matched, when one was given)
    Failed,     // no source could deliver it, or the MD5 did not match: nothing at the target
    Paused,     // the resume state was saved; a later transfer continues from it
    Cancelled,  // stopped; the resume state was saved as for a pause
};

// Why a transfer failed.
enum class TransferFailure {
    None,
    NoSource,        // no source is left that could deliver the rest
    DigestMismatch,  // the file did not match its MD5 and no other source could mend it
    SizeLimit,       // the file is longer than the limit, or a source sent more
    BlockList,       // the block list the caller named could not be had or did not match
    DataFile,        // the data file could not be written, or the file put at its name
};

struct TransferStatus {
    int64_t total = 0;     // file length, 0 until a source has told it
    int64_t received = 0;  // bytes written and not given back
    int sourcesInUse = 0;  // sources with a connection open now
    int sourcesKnown = 0;
    std::string url;  // the first URL (from the request or the resume state)
    TransferFailure failure = TransferFailure::None;
    int blamedSources = 0;       // dropped for wrong bytes
    std::string lastBlamed;      // the URL of the last of them
    bool blocksChecked = false;  // a block list checks every block
    bool checked = false;        // finished, and its bytes passed a check (list or MD5)
};

// Who named sources added while running.
enum class SourceRole {
    CallerMirror,  // the caller: a whole copy, trusted like the first URL
    LookupMirror,  // a lookup: a whole copy, used only while its bytes can be checked
    LookupPeer,    // a lookup: another engine's block server (ranges only), likewise
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
    // Sources learned while running (a lookup's answer, the caller's mirrors); only http,
    // https and ftp URLs, duplicates ignored; a lookup adds at most kMaxLookupMirrors
    // mirrors and kMaxLookupPeers peers in all. False (nothing added) when no transfer runs
    // or it has failed already: sources that come then are too late for it.
    bool AddSources(const std::vector<std::string>& urls, SourceRole role = SourceRole::LookupPeer);
    // What a lookup told of the file (length -1 or md5 "" when it did not): never trusted,
    // but a length or MD5 that differs from the trusted one keeps the lookup's sources out
    // (they hold another file).
    void NoteLookupAnswer(int64_t length, const std::string& md5);
    void Pause();
    void Cancel();
    void Join();  // waits until the transfer's threads have ended (after `ended`)

    TransferStatus status() const;
    // What the last failure was, for the log; empty when none.
    std::string lastError() const;

    // For the block server: copies `size` bytes at `offset` when every one of them has
    // been checked (passed its block hash; without a block list, once the whole file
    // passed its MD5); false otherwise (nothing copied).
    bool ReadHeld(int64_t offset, size_t size, char* out) const;
    // The bytes ReadHeld would copy now, as ranges (ascending, apart).
    std::vector<transfer::ByteRange> CheckedRanges() const;

  private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace engine
