// The policy of a multi-source transfer, without threads and without a clock of its own:
// which source fetches which bytes next, what a connection may keep, which connections
// have stalled, and what each source has shown (speed, refusals, wrong bytes). The
// transfer asks it for work (`Pick`) and tells it what happened (`Record`), each time with
// the time of day; a test does the same with made-up times.
//
// Work is cut into pieces, each fetched by at most one connection. A free connection takes
// the largest open piece, else the tail of the piece that then ends soonest, cut so that
// both connections end together at the speeds they have shown (halves while nothing is
// measured); a stalled piece, or the quiet tail of one, is taken over whole. Candidates are
// ranked as {tier, seconds}: a higher tier always wins, seconds decide within a tier.
//
// Sources named by the caller may deliver as soon as they are known; sources named by a
// lookup only while their bytes can be checked (`SetLookupSourcesAllowed`); peers only
// once the file's length is known, since a peer cannot tell it, and only for the bytes
// their held map says they hold (`TellHeld`; asked again now and then while they are still
// downloading, `PeersToAsk`).
//
// With peers about, a whole copy (the caller's URL, a mirror) is asked first for bytes no
// usable peer holds, so that an origin shared by many engines sends each byte to as few of
// them as it can: a piece it takes ends where a peer's bytes begin (and is cut there when a
// peer's map shows them later), and a piece that begins right after a peer's bytes (which
// that peer may be fetching now) begins at a random point of its middle instead. Bytes that
// peers hold go to a whole copy only in the tail of a piece a slower peer works on (so that
// both end together), or when the peer stalls.
//
// Not thread safe: its owner guards it.
#pragma once

#include <chrono>
#include <cstdint>
#include <list>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "engine/transfer/piece_map.h"

namespace engine::transfer {

using Clock = std::chrono::steady_clock;
using TimePoint = Clock::time_point;

enum class SourceKind {
    Http,  // a whole copy over HTTP or HTTPS
    Ftp,   // a whole copy over FTP
    Peer,  // another engine's block server: ranges only, may hold part of the file
};

enum class Trust {
    Caller,  // named by the caller: its bytes are the file unless something checks them
    Lookup,  // named by a lookup: its bytes are used only when they can be checked
};

struct SchedulerSettings {
    int connectionsPerSource = 4;  // a source that refuses more keeps the number it took
    int connectionsInAll = 16;
    int32_t blockSize = 256 * 1024;
    // Every cut falls on a block boundary, so that each block arrives whole over one
    // connection and is checked before it is kept.
    bool wholeBlocks = false;
    // Seeds the random start of pieces placed beside a peer's bytes (engines that share an
    // origin should not pick the same points).
    uint64_t seed = 0;
};

// How one fetch ended, for its source's record.
enum class FetchEnd {
    Done,        // its piece is done, or the source answered a shorter range whole
    Busy,        // the server has no room for another connection now (503, 429)
    NotHeld,     // 404 or 416: a peer that does not hold the bytes (yet)
    Failed,      // the connection or the answer failed
    WrongBytes,  // another length, another range, or bytes that failed their check
    Stopped,     // the transfer is stopping
    TakenOver,   // another connection took the rest before this one showed its speed
    // Ended from outside (Overdue, a take-over): counts as a failure when the connection
    // had stalled, else as TakenOver.
    Interrupted,
};

// Work for one connection: bytes [from, end) of `source`; end -1 asks for the whole file
// from its start while its length is unknown (a probe).
struct Assignment {
    int connection = -1;
    int source = -1;
    int64_t from = 0;
    int64_t end = -1;
    // Bytes fetched again because their first writer is suspected: compare before keeping.
    bool recheck = false;
    bool probe() const { return end < 0; }
};

struct Event {
    enum class Kind {
        Arrived,     // `bytes` reached the connection (kept or not yet)
        Kept,        // [from, to) written into the data file by the connection
        Ended,       // the connection's fetch ended with `end`
        WrongBlock,  // the connection's source sent [from, to) wrong: it is dropped
    };
    Kind kind = Kind::Arrived;
    int connection = -1;
    int64_t from = 0;
    int64_t to = 0;
    int64_t bytes = 0;
    bool hashed = false;  // Kept: the bytes passed their block hash
    FetchEnd end = FetchEnd::Done;

    static Event Arrived(int connection, int64_t bytes);
    static Event Kept(int connection, int64_t from, int64_t to, bool hashed);
    static Event Ended(int connection, FetchEnd end);
    static Event WrongBlock(int connection, int64_t from, int64_t to);
};

// A candidate piece for a free connection: higher tier first, then more seconds.
struct Rank {
    enum Tier : int { kHalve = 0, kSplit = 1, kQuietTail = 2, kStalled = 3 };
    int tier = kHalve;
    double seconds = 0;  // saved by the split; for the other tiers, the work left
    bool operator<(const Rank& other) const {
        return tier != other.tier ? tier < other.tier : seconds < other.seconds;
    }
};

struct SourceRecord {
    std::string url;
    SourceKind kind = SourceKind::Http;
    Trust trust = Trust::Caller;
    int active = 0;
    int cap = 0;  // connections it may have now
    int failures = 0;
    int busyRefusals = 0;  // 503s in a row without a connection of its own open
    bool dropped = false;
    bool blamed = false;  // dropped for wrong bytes
    TimePoint retryAt{};
    TimePoint capLoweredAt{};
    double rate = -1;  // bytes per second of one of its connections; -1 until measured
    // A peer's held map: what it says it holds (ascending, apart), once it has been had.
    bool heldKnown = false;
    std::vector<ByteRange> held;
    TimePoint heldDueAt{};  // when it is to be asked again
    int heldFailures = 0;   // maps that could not be had, in a row
    int idleMaps = 0;       // maps in a row without a byte still wanted
};

class Scheduler {
  public:
    explicit Scheduler(SchedulerSettings settings = {});

    // -1 when the URL is known already. Sources are numbered from 0 in the order added.
    int AddSource(const std::string& url, SourceKind kind, Trust trust);
    const SourceRecord& source(int index) const { return sources_[static_cast<size_t>(index)]; }
    int sourceCount() const { return static_cast<int>(sources_.size()); }
    // A peer's held map, as it answered at `now`: the ranges it holds of a file of `length`
    // bytes. A peer of another length holds another file and is dropped.
    void TellHeld(int source, int64_t length, std::vector<ByteRange> ranges, TimePoint now);
    // Its map could not be had: asked again later; dropped after a few such in a row.
    void HeldUnknown(int source, TimePoint now);
    // Peers whose held map is due: never had, or not yet the whole file and older than the
    // refresh time (at once after a refusal).
    std::vector<int> PeersToAsk(TimePoint now) const;
    // Whether sources named by a lookup may deliver now (their bytes can be checked).
    void SetLookupSourcesAllowed(bool allowed) { lookupAllowed_ = allowed; }
    bool lookupSourcesAllowed() const { return lookupAllowed_; }

    // The file's length, told by a source, a block list or the resume state: the open
    // work becomes what `held` lacks. False when another length is known already.
    bool TellLength(int64_t length);
    int64_t length() const { return held_.length(); }
    // Starts from what a previous transfer left (its length must be known).
    void Resume(PieceMap held);
    // Forgets the file: nothing held, its length unknown (no connection may be running).
    void Forget();

    std::optional<Assignment> Pick(TimePoint now);
    bool HasWork(TimePoint now);  // whether Pick would find some
    // How many of `size` bytes at `offset` the connection may write now (its piece may have
    // been cut short); no cut falls before them until they are Kept.
    int64_t Reserve(int connection, int64_t offset, int64_t size);
    void Record(const Event& event, TimePoint now);
    // Bytes the connection still has to fetch; -1 while its piece's end is unknown, 0 when
    // it is done or was cut short.
    int64_t WorkLeft(int connection) const;
    void SetWholeBlocks(bool wholeBlocks) { settings_.wholeBlocks = wholeBlocks; }
    bool wholeBlocks() const { return settings_.wholeBlocks; }
    // Connections to end now: stalled, left without work, or of a dropped source.
    std::vector<int> Overdue(TimePoint now) const;

    // Drops a source for the rest of the task; with `blamed`, for bytes that were wrong.
    void Drop(int source, bool blamed);
    // Gives the bytes `writer` wrote back as open work that no connection of `writer`
    // takes (to be fetched again from others), with `callerOnly` only the caller's sources;
    // returns them.
    std::vector<ByteRange> Refetch(int writer, bool callerOnly = false);

    const PieceMap& held() const { return held_; }
    bool Complete() const { return held_.Complete(); }
    int64_t received() const { return held_.heldBytes(); }
    int connections() const { return connections_; }
    // A source that could still deliver: not dropped, allowed, and able to tell the
    // length when it is not known.
    bool AnySourceLeft() const;
    int sourcesInUse() const;
    std::vector<int> blamed() const { return blamed_; }  // in the order they were blamed

  private:
    struct Segment {
        int64_t from = 0;
        int64_t to = 0;
        int64_t size() const { return to - from; }
    };
    struct Piece {
        int64_t pos = 0;
        int64_t end = 0;          // -1: a probe's piece, its length unknown
        int avoid = -1;           // a source that must not take it
        bool callerOnly = false;  // only the caller's sources may take it
        // Of the connection that owns it:
        int connection = -1;
        int source = -1;
        TimePoint ownedAt{};
        TimePoint lastData{};
        TimePoint windowStart{};
        int64_t windowBytes = 0;
        int64_t arrived = 0;   // since it was taken, kept or not
        int64_t reserved = 0;  // end of a write under way
        double rate = -1;

        bool owned() const { return connection >= 0; }
        bool Started() const { return arrived > 0; }
        double Speed(TimePoint now, double minSeconds) const;
        bool Stalled(TimePoint now) const;
    };
    using PieceIt = std::list<Piece>::iterator;

    bool Eligible(const SourceRecord& s) const;
    std::optional<Assignment> Find(TimePoint now, bool dryRun);
    // Unowned work for `source`: the largest part of an open piece it may fetch, carved out
    // of the piece as a piece of its own (unless `dryRun`); the end of the pieces when none.
    PieceIt OpenPartFor(int source, bool dryRun);
    PieceIt Carve(PieceIt piece, int64_t from, int64_t to);
    PieceIt TakeOver(int source, TimePoint now, bool dryRun);
    // Bytes usable peers hold (a peer that has refused, failed or been busy lately does not
    // count), joined; kept until a map or a peer's standing changes.
    const std::vector<ByteRange>& Coverage() const;
    // The same, of the peers that may take `piece`.
    const std::vector<ByteRange>& CoverageFor(const Piece& piece) const;
    bool Usable(const SourceRecord& s) const;
    // Cuts pieces of whole copies that run into bytes the peer `source` holds: the rest is
    // left to peers.
    void YieldToPeer(int source);
    bool HasPeers() const;
    void Own(Piece& piece, int source, TimePoint now);
    void OpenWork(int64_t from, int64_t to, int avoid, bool callerOnly = false);
    bool MayTake(const Piece& piece, int source) const;
    int64_t AlignUp(int64_t offset) const;
    void Ended(PieceIt piece, FetchEnd end, TimePoint now);

    SchedulerSettings settings_;
    std::vector<SourceRecord> sources_;
    std::set<std::string> urls_;
    std::list<Piece> pieces_;  // open work, owned or not
    std::unordered_map<int, PieceIt> byConnection_;
    PieceMap held_;
    bool lookupAllowed_ = false;
    bool probing_ = false;
    int connections_ = 0;
    int nextConnection_ = 0;
    std::vector<int> blamed_;
    uint64_t random_;
    mutable std::vector<ByteRange> coverage_;
    mutable bool coverageStale_ = true;
    mutable std::vector<ByteRange> pieceCoverage_;  // CoverageFor's answer
};

}  // namespace engine::transfer
