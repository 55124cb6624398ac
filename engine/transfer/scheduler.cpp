#include "engine/transfer/scheduler.h"

#include <algorithm>

namespace engine::transfer {
namespace {

// A piece with less than this left is not split: the new connection would cost more than
// it saves.
constexpr int64_t kMinSplitBytes = 512 * 1024;
constexpr int kFailuresBeforeDropped = 3;
// A peer may come to hold bytes it lacks now, but not one that has refused this many
// times in a row.
constexpr int kPeerRefusalsBeforeDropped = 20;
// A connection that has received nothing for this long is taken to have stalled: another
// connection takes over all that is left of its piece. Before its first byte it is given
// as long as a connection may take to open: a distant server answers late.
constexpr auto kStallAfter = std::chrono::milliseconds(1500);
constexpr auto kFirstByteWait = std::chrono::seconds(10);
// Taking over the tail of a piece that is moving costs a new request: only worth it when
// the piece then ends at least this much sooner, and for at least this many bytes.
constexpr double kMinGainSeconds = 0.05;
constexpr int64_t kMinTakeOverBytes = 64 * 1024;
// A piece with at most this much left whose connection has received nothing for this long
// is taken over whole by a free connection.
constexpr int64_t kQuietTailBytes = 1 << 20;
constexpr auto kQuietAfter = std::chrono::milliseconds(300);
// A source that has failed before is tried again on no more than this.
constexpr int64_t kTrialBytes = 512 * 1024;
// How often a connection's speed is measured, and the shortest time an average is taken
// over before the first measurement.
constexpr auto kRateWindow = std::chrono::milliseconds(200);
constexpr double kMinAverageSeconds = 0.005;
// A source that refused a connection is offered one more again after this long: the
// refusal may have come while the server still counted one that had just closed.
constexpr auto kCapRetryAfter = std::chrono::seconds(5);
// The speed that turns bytes into seconds where nothing was measured: it only orders
// candidates of one tier for one taker.
constexpr double kReferenceRate = 1 << 20;
// A peer that is still downloading holds more every moment: its map is asked for again
// this often. One whose map cannot be had this many times in a row is dropped.
constexpr auto kHeldRefresh = std::chrono::seconds(1);
constexpr int kHeldFailuresBeforeDropped = 3;
// A peer that has shown nothing still wanted this many times in a row (a minute) is not
// waited for any longer.
constexpr int kIdleMapsBeforeDropped = 60;
// A server that says it is busy is not broken: it is tried again later, and dropped only
// after this many such answers in a row while none of its connections was open.
constexpr int kBusyRefusalsBeforeDropped = 20;
// A peer busy this many times in a row (some 7 s) no longer keeps whole copies off its bytes.
constexpr int kBusyRefusalsStillWaitedFor = 5;

// The next number of a small generator (splitmix64): the scheduler's only randomness,
// seeded by its owner, so that a test sees the same choices every run.
uint64_t NextRandom(uint64_t& state) {
    uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

// The held range of `ranges` (ascending, apart) that contains `offset`, if any.
const ByteRange* RangeHolding(const std::vector<ByteRange>& ranges, int64_t offset) {
    auto it = std::upper_bound(ranges.begin(), ranges.end(), offset,
                               [](int64_t at, const ByteRange& r) { return at < r.from; });
    if (it == ranges.begin()) return nullptr;
    --it;
    return offset < it->to ? &*it : nullptr;
}

// The first byte of `ranges` in [from, to), else `to`.
int64_t FirstHeldIn(const std::vector<ByteRange>& ranges, int64_t from, int64_t to) {
    auto it = std::upper_bound(ranges.begin(), ranges.end(), from,
                               [](int64_t at, const ByteRange& r) { return at < r.to; });
    if (it == ranges.end()) return to;
    return std::clamp(it->from, from, to);
}

}  // namespace

Event Event::Arrived(int connection, int64_t bytes) {
    Event e;
    e.kind = Kind::Arrived;
    e.connection = connection;
    e.bytes = bytes;
    return e;
}

Event Event::Kept(int connection, int64_t from, int64_t to, bool hashed) {
    Event e;
    e.kind = Kind::Kept;
    e.connection = connection;
    e.from = from;
    e.to = to;
    e.hashed = hashed;
    return e;
}

Event Event::Ended(int connection, FetchEnd end) {
    Event e;
    e.kind = Kind::Ended;
    e.connection = connection;
    e.end = end;
    return e;
}

Event Event::WrongBlock(int connection, int64_t from, int64_t to) {
    Event e;
    e.kind = Kind::WrongBlock;
    e.connection = connection;
    e.from = from;
    e.to = to;
    return e;
}

// The connection's speed: the last measurement, else the average since it took the piece
// (a fast connection may finish before its first measurement, and a server that sends in
// bursts may leave a window open for long); -1 when nothing is known yet. `minSeconds`
// keeps a connection that has just begun from being judged by its first bytes; a finished
// one is judged by all of them.
double Scheduler::Piece::Speed(TimePoint now, double minSeconds) const {
    if (rate > 0) return rate;
    const double seconds = std::chrono::duration<double>(now - ownedAt).count();
    if (seconds <= 0 || seconds < minSeconds || arrived <= 0) return -1;
    return static_cast<double>(arrived) / seconds;
}

bool Scheduler::Piece::Stalled(TimePoint now) const {
    return now - lastData >= (Started() ? Clock::duration(kStallAfter) : kFirstByteWait);
}

Scheduler::Scheduler(SchedulerSettings settings) : settings_(settings), random_(settings.seed) {
    settings_.connectionsPerSource = std::max(1, settings_.connectionsPerSource);
    settings_.connectionsInAll = std::max(1, settings_.connectionsInAll);
    settings_.blockSize = std::max(1, settings_.blockSize);
}

int Scheduler::AddSource(const std::string& url, SourceKind kind, Trust trust) {
    if (!urls_.insert(url).second) return -1;
    SourceRecord s;
    s.url = url;
    s.kind = kind;
    s.trust = trust;
    s.cap = settings_.connectionsPerSource;
    sources_.push_back(std::move(s));
    return static_cast<int>(sources_.size()) - 1;
}

bool Scheduler::TellLength(int64_t length) {
    if (length < 0) return false;
    if (held_.length() >= 0) return held_.length() == length;
    held_.SetLength(length);
    bool probeOpen = false;
    for (Piece& p : pieces_) {
        if (p.end < 0) {
            p.end = length;
            probeOpen = true;
        }
    }
    if (!probeOpen && pieces_.empty()) {
        for (const ByteRange& gap : held_.Gaps()) OpenWork(gap.from, gap.to, -1);
    }
    return true;
}

void Scheduler::Resume(PieceMap held) {
    held_ = std::move(held);
    pieces_.remove_if([](const Piece& p) { return !p.owned(); });
    for (const ByteRange& gap : held_.Gaps()) OpenWork(gap.from, gap.to, -1);
}

void Scheduler::Forget() {
    held_ = PieceMap();
    pieces_.clear();
    byConnection_.clear();
    probing_ = false;
}

bool Scheduler::Eligible(const SourceRecord& s) const {
    return !s.dropped && (s.trust == Trust::Caller || lookupAllowed_) &&
           (s.kind != SourceKind::Peer || (held_.length() >= 0 && s.heldKnown && !s.held.empty()));
}

int64_t Scheduler::AlignUp(int64_t offset) const {
    if (!settings_.wholeBlocks) return offset;
    const int64_t block = settings_.blockSize;
    return (offset + block - 1) / block * block;
}

void Scheduler::TellHeld(int source, int64_t length, std::vector<ByteRange> ranges, TimePoint now) {
    if (source < 0 || source >= sourceCount()) return;
    SourceRecord& s = sources_[static_cast<size_t>(source)];
    if (s.kind != SourceKind::Peer || s.dropped) return;
    if (held_.length() < 0 || length != held_.length()) {
        s.dropped = true;  // another file
        coverageStale_ = true;
        return;
    }
    int64_t bytes = 0;
    for (const ByteRange& r : ranges) bytes += r.size();
    bool wanted = false;
    for (const ByteRange& gap : held_.Gaps())
        wanted = wanted || FirstHeldIn(ranges, gap.from, gap.to) < gap.to;
    s.idleMaps = wanted ? 0 : s.idleMaps + 1;
    if (s.idleMaps >= kIdleMapsBeforeDropped) {
        s.dropped = true;
        coverageStale_ = true;
        return;
    }
    s.held = std::move(ranges);
    s.heldKnown = true;
    s.heldFailures = 0;
    s.heldDueAt = bytes >= length ? TimePoint::max() : now + kHeldRefresh;
    coverageStale_ = true;
    if (s.failures == 0) YieldToPeer(source);
}

void Scheduler::HeldUnknown(int source, TimePoint now) {
    if (source < 0 || source >= sourceCount()) return;
    SourceRecord& s = sources_[static_cast<size_t>(source)];
    ++s.heldFailures;
    s.heldDueAt = now + kHeldRefresh * s.heldFailures;
    if (s.heldFailures >= kHeldFailuresBeforeDropped) {
        s.dropped = true;
        coverageStale_ = true;
    }
}

std::vector<int> Scheduler::PeersToAsk(TimePoint now) const {
    std::vector<int> due;
    if (held_.length() < 0 || !lookupAllowed_) return due;
    for (size_t i = 0; i < sources_.size(); ++i) {
        const SourceRecord& s = sources_[i];
        if (s.kind == SourceKind::Peer && !s.dropped && (!s.heldKnown || now >= s.heldDueAt))
            due.push_back(static_cast<int>(i));
    }
    return due;
}

bool Scheduler::HasPeers() const {
    return std::any_of(sources_.begin(), sources_.end(), [this](const SourceRecord& s) {
        return s.kind == SourceKind::Peer && Eligible(s);
    });
}

namespace {
// Joins ranges (in any order) into ascending ranges apart from each other.
void JoinRanges(std::vector<ByteRange>& all, std::vector<ByteRange>& out) {
    std::sort(all.begin(), all.end(),
              [](const ByteRange& a, const ByteRange& b) { return a.from < b.from; });
    out.clear();
    for (const ByteRange& r : all) {
        if (!out.empty() && r.from <= out.back().to) {
            out.back().to = std::max(out.back().to, r.to);
        } else {
            out.push_back(r);
        }
    }
}
}  // namespace

// A busy peer is asked again soon: its bytes wait for it for a while rather than being
// fetched from an origin once more.
bool Scheduler::Usable(const SourceRecord& s) const {
    return s.kind == SourceKind::Peer && Eligible(s) && s.failures == 0 &&
           s.busyRefusals < kBusyRefusalsStillWaitedFor;
}

const std::vector<ByteRange>& Scheduler::Coverage() const {
    if (!coverageStale_) return coverage_;
    coverageStale_ = false;
    std::vector<ByteRange> all;
    for (const SourceRecord& s : sources_)
        if (Usable(s)) all.insert(all.end(), s.held.begin(), s.held.end());
    JoinRanges(all, coverage_);
    return coverage_;
}

// A piece that some peers may not take (one it must avoid, or the caller's sources only) is
// covered only by the others: bytes left to a peer that may not fetch them would wait for
// ever.
const std::vector<ByteRange>& Scheduler::CoverageFor(const Piece& piece) const {
    if (!piece.callerOnly &&
        (piece.avoid < 0 || sources_[static_cast<size_t>(piece.avoid)].kind != SourceKind::Peer)) {
        return Coverage();
    }
    std::vector<ByteRange> all;
    for (size_t i = 0; i < sources_.size(); ++i) {
        const SourceRecord& s = sources_[i];
        if (Usable(s) && MayTake(piece, static_cast<int>(i)))
            all.insert(all.end(), s.held.begin(), s.held.end());
    }
    JoinRanges(all, pieceCoverage_);
    return pieceCoverage_;
}

void Scheduler::YieldToPeer(int source) {
    const SourceRecord& peer = sources_[static_cast<size_t>(source)];
    for (Piece& p : pieces_) {
        if (!p.owned() || p.end < 0 || !MayTake(p, source) ||
            sources_[static_cast<size_t>(p.source)].kind == SourceKind::Peer) {
            continue;
        }
        const int64_t from = std::max(p.pos, p.reserved);
        const int64_t cut = AlignUp(FirstHeldIn(peer.held, from, p.end));
        if (cut >= p.end) continue;
        OpenWork(cut, p.end, p.avoid, p.callerOnly);
        p.end = cut;
    }
}

Scheduler::PieceIt Scheduler::Carve(PieceIt piece, int64_t from, int64_t to) {
    if (to < piece->end) OpenWork(to, piece->end, piece->avoid, piece->callerOnly);
    piece->end = to;
    if (from <= piece->pos) return piece;
    OpenWork(from, to, piece->avoid, piece->callerOnly);
    piece->end = from;
    return std::prev(pieces_.end());
}

Scheduler::PieceIt Scheduler::OpenPartFor(int source, bool dryRun) {
    const SourceRecord& taker = sources_[static_cast<size_t>(source)];
    const int64_t length = held_.length();
    // Inner cuts fall on block boundaries; the file's end is one too.
    const auto alignDown = [&](int64_t offset) {
        if (!settings_.wholeBlocks || offset >= length) return offset;
        return offset / settings_.blockSize * settings_.blockSize;
    };
    PieceIt best = pieces_.end();
    Segment bestPart;
    const auto consider = [&](PieceIt it, int64_t from, int64_t to) {
        from = AlignUp(from);
        to = alignDown(to);
        if (to <= from) return;
        if (best == pieces_.end() || to - from > bestPart.size()) {
            best = it;
            bestPart = {from, to};
        }
    };
    const bool peersAbout = taker.kind != SourceKind::Peer && HasPeers() && !Coverage().empty();
    for (auto it = pieces_.begin(); it != pieces_.end(); ++it) {
        if (it->owned() || !MayTake(*it, source) || it->end <= it->pos) continue;
        if (taker.kind == SourceKind::Peer) {
            // Only what it holds.
            for (int64_t at = it->pos; at < it->end;) {
                const int64_t from = FirstHeldIn(taker.held, at, it->end);
                if (from >= it->end) break;
                const ByteRange* range = RangeHolding(taker.held, from);
                const int64_t to = std::min(it->end, range->to);
                consider(it, from, to);
                at = to;
            }
        } else if (!peersAbout) {
            consider(it, it->pos, it->end);
        } else {
            // What no usable peer that may take it holds.
            const std::vector<ByteRange>& covering = CoverageFor(*it);
            for (int64_t at = it->pos; at < it->end;) {
                const ByteRange* covered = RangeHolding(covering, at);
                if (covered) {
                    at = std::min(it->end, covered->to);
                    continue;
                }
                const int64_t to = FirstHeldIn(covering, at, it->end);
                consider(it, at, to);
                at = to;
            }
        }
    }
    if (best == pieces_.end() || dryRun) return best;
    if (peersAbout && bestPart.from > 0 &&
        RangeHolding(CoverageFor(*best), bestPart.from - 1) != nullptr &&
        bestPart.size() >= 2 * kMinSplitBytes) {
        // Right after a peer's bytes: that peer may be fetching these now. Somewhere in the
        // middle half instead, so that the two fetch different bytes.
        const uint64_t quarter = static_cast<uint64_t>(bestPart.size() / 4);
        const int64_t start = AlignUp(
            bestPart.from + static_cast<int64_t>(quarter + NextRandom(random_) % (2 * quarter)));
        if (start < bestPart.to) bestPart.from = start;
    }
    return Carve(best, bestPart.from, bestPart.to);
}

void Scheduler::OpenWork(int64_t from, int64_t to, int avoid, bool callerOnly) {
    if (to <= from) return;
    Piece p;
    p.pos = from;
    p.end = to;
    p.avoid = avoid;
    p.callerOnly = callerOnly;
    pieces_.push_back(p);
}

bool Scheduler::MayTake(const Piece& piece, int source) const {
    return piece.avoid != source &&
           (!piece.callerOnly || sources_[static_cast<size_t>(source)].trust == Trust::Caller);
}

void Scheduler::Own(Piece& piece, int source, TimePoint now) {
    piece.connection = nextConnection_++;
    piece.source = source;
    piece.ownedAt = piece.lastData = piece.windowStart = now;
    piece.windowBytes = piece.arrived = piece.reserved = 0;
    piece.rate = -1;
    SourceRecord& s = sources_[static_cast<size_t>(source)];
    ++s.active;
    ++connections_;
}

std::optional<Assignment> Scheduler::Pick(TimePoint now) { return Find(now, false); }

bool Scheduler::HasWork(TimePoint now) { return Find(now, true).has_value(); }

std::optional<Assignment> Scheduler::Find(TimePoint now, bool dryRun) {
    if (connections_ >= settings_.connectionsInAll) return std::nullopt;
    // A source with a stalled connection, or one that failed before and is on trial,
    // gets no further connection until that one moves.
    std::vector<bool> waiting(sources_.size(), false);
    for (const Piece& p : pieces_) {
        if (!p.owned()) continue;
        const SourceRecord& owner = sources_[static_cast<size_t>(p.source)];
        if (p.Stalled(now) || (owner.failures > 0 && p.Speed(now, kMinAverageSeconds) <= 0))
            waiting[static_cast<size_t>(p.source)] = true;
    }
    // Sources with room, those with the fewest connections first.
    std::vector<int> candidates;
    for (size_t i = 0; i < sources_.size(); ++i) {
        SourceRecord& s = sources_[i];
        if (!Eligible(s) || s.retryAt > now || waiting[i]) continue;
        if (s.cap < settings_.connectionsPerSource && s.active >= s.cap &&
            now - s.capLoweredAt >= kCapRetryAfter) {
            ++s.cap;
            s.capLoweredAt = now;
        }
        if (s.active < s.cap) candidates.push_back(static_cast<int>(i));
    }
    std::stable_sort(candidates.begin(), candidates.end(), [this](int a, int b) {
        return sources_[static_cast<size_t>(a)].active < sources_[static_cast<size_t>(b)].active;
    });
    if (held_.length() < 0) {
        // Nothing is known of the file yet: one connection asks for all of it and learns
        // its length (peers are not candidates: they cannot tell it).
        if (probing_ || candidates.empty()) return std::nullopt;
        if (dryRun) return Assignment{};
        probing_ = true;
        Piece p;
        p.pos = held_.heldBytes();
        p.end = -1;
        pieces_.push_back(p);
        Own(pieces_.back(), candidates.front(), now);
        byConnection_[pieces_.back().connection] = std::prev(pieces_.end());
        return Assignment{pieces_.back().connection, candidates.front(), p.pos, -1};
    }
    for (int source : candidates) {
        // An open piece nobody fetches, the largest first; else part of one that is fetched.
        PieceIt best = OpenPartFor(source, dryRun);
        if (best == pieces_.end()) best = TakeOver(source, now, dryRun);
        if (best == pieces_.end()) continue;
        if (dryRun) return Assignment{};
        Own(*best, source, now);
        byConnection_[best->connection] = best;
        return Assignment{best->connection, source, best->pos, best->end, best->avoid != -1};
    }
    return std::nullopt;
}

// The piece whose end comes soonest when `source` takes part of it: the new connection
// takes the tail, cut so that both connections end together at the speeds they have shown
// (halves while nothing is measured yet). A piece whose connection has stalled is taken
// over whole. Returns the new piece (not yet owned), or the end of the pieces when no split
// is worth a request.
Scheduler::PieceIt Scheduler::TakeOver(int source, TimePoint now, bool dryRun) {
    const SourceRecord& taker = sources_[static_cast<size_t>(source)];
    const bool takerIsPeer = taker.kind == SourceKind::Peer;
    const bool peersAbout = !takerIsPeer && HasPeers();
    const double reference = taker.rate > 0 ? taker.rate : kReferenceRate;
    PieceIt best = pieces_.end();
    int64_t bestCut = 0, bestEnd = 0;
    Rank bestRank;
    for (auto it = pieces_.begin(); it != pieces_.end(); ++it) {
        const int64_t left = it->end - it->pos;
        if (!it->owned() || it->end < 0 || left <= 0 || !MayTake(*it, source)) continue;
        const SourceRecord& owner = sources_[static_cast<size_t>(it->source)];
        const bool ownerIsPeer = owner.kind == SourceKind::Peer;
        // A source that failed before and has not shown its speed on this piece yet
        // holds it only until a proven connection is free.
        const bool unproven = it->Speed(now, kMinAverageSeconds) <= 0 && owner.failures > 0;
        const bool stalled = it->Stalled(now) || unproven;
        // The last bytes of a piece whose connection has gone quiet for a while (a server
        // that sends in bursts, or one that slows down) are taken over whole: waiting for
        // its next burst costs more than a request.
        const bool quietTail =
            it->Started() && left <= kQuietTailBytes && now - it->lastData >= kQuietAfter;
        // A connection that has shown nothing yet is taken to be as fast as its source.
        double own = it->Speed(now, kMinAverageSeconds);
        if (own <= 0) own = owner.rate;
        int64_t cut;
        Rank rank;
        if (stalled || quietTail) {
            cut = it->pos;
            rank = {stalled ? Rank::kStalled : Rank::kQuietTail,
                    static_cast<double>(left) / reference};
        } else if (own <= 0) {
            // Nothing measured yet: halves, and only of a piece worth two connections. A
            // peer's piece is left to it until it shows its speed.
            if (left < 2 * kMinSplitBytes || (ownerIsPeer && !takerIsPeer)) continue;
            cut = it->pos + left / 2;
            rank = {Rank::kHalve, static_cast<double>(left) / kReferenceRate};
        } else {
            const double other = taker.rate > 0 ? taker.rate : own;
            cut = it->pos + static_cast<int64_t>(static_cast<double>(left) * own / (own + other));
            rank = {Rank::kSplit,
                    static_cast<double>(left) / own - static_cast<double>(left) / (own + other)};
            if (rank.seconds < kMinGainSeconds) continue;
        }
        if (taker.failures > 0) cut = std::max(cut, it->end - kTrialBytes);
        cut = AlignUp(std::max(cut, it->reserved));
        if (cut >= it->end) continue;
        if (it->end - cut < kMinTakeOverBytes && !stalled && !quietTail) continue;
        // A peer takes only what it holds; a whole copy beside peers stops where their bytes
        // begin, unless the piece is a peer's own.
        int64_t end = it->end;
        if (takerIsPeer) {
            const ByteRange* range = RangeHolding(taker.held, cut);
            if (!range) continue;
            end = std::min(end, range->to);
        } else if (peersAbout && !ownerIsPeer) {
            end = FirstHeldIn(CoverageFor(*it), cut, end);
        }
        if (end < it->end && settings_.wholeBlocks)
            end = end / settings_.blockSize * settings_.blockSize;
        if (end <= cut) continue;
        if (best == pieces_.end() || bestRank < rank) {
            best = it;
            bestCut = cut;
            bestEnd = end;
            bestRank = rank;
        }
    }
    if (best == pieces_.end() || dryRun) return best;
    if (bestEnd < best->end) OpenWork(bestEnd, best->end, best->avoid, best->callerOnly);
    OpenWork(bestCut, bestEnd, best->avoid, best->callerOnly);
    best->end = bestCut;
    return std::prev(pieces_.end());
}

int64_t Scheduler::Reserve(int connection, int64_t offset, int64_t size) {
    const auto found = byConnection_.find(connection);
    if (found == byConnection_.end()) return 0;
    Piece& p = *found->second;
    if (offset < p.pos) return 0;
    const int64_t n = p.end < 0 ? size : std::clamp<int64_t>(p.end - offset, 0, size);
    p.reserved = offset + n;
    return n;
}

void Scheduler::Record(const Event& event, TimePoint now) {
    const auto found = byConnection_.find(event.connection);
    if (found == byConnection_.end()) return;
    const PieceIt piece = found->second;
    switch (event.kind) {
        case Event::Kind::Arrived: {
            piece->lastData = now;
            piece->arrived += event.bytes;
            piece->windowBytes += event.bytes;
            const double seconds = std::chrono::duration<double>(now - piece->windowStart).count();
            if (now - piece->windowStart >= kRateWindow && seconds > 0) {
                const double measured = static_cast<double>(piece->windowBytes) / seconds;
                piece->rate = piece->rate < 0 ? measured : (piece->rate + measured) / 2;
                piece->windowStart = now;
                piece->windowBytes = 0;
                SourceRecord& src = sources_[static_cast<size_t>(piece->source)];
                src.rate = src.rate < 0 ? piece->rate : 0.7 * src.rate + 0.3 * piece->rate;
            }
            break;
        }
        case Event::Kind::Kept:
            held_.Add(event.from, event.to, piece->source, event.hashed);
            piece->pos = std::max(piece->pos, event.to);
            piece->reserved = 0;
            break;
        case Event::Kind::WrongBlock:
            Drop(piece->source, true);
            break;
        case Event::Kind::Ended:
            byConnection_.erase(found);
            Ended(piece, event.end, now);
            break;
    }
}

void Scheduler::Ended(PieceIt piece, FetchEnd end, TimePoint now) {
    const int index = piece->source;
    SourceRecord& s = sources_[static_cast<size_t>(index)];
    // A connection that ended before its first measurement still tells its source's speed.
    const double speed = piece->Speed(now, 0);
    if (piece->rate <= 0 && speed > 0) s.rate = s.rate < 0 ? speed : 0.7 * s.rate + 0.3 * speed;
    const bool stalled = piece->Stalled(now);
    if (piece->end < 0) {
        probing_ = false;
        // A probe that ended whole without being told a length delivered the whole file.
        if (end == FetchEnd::Done && held_.length() < 0) TellLength(piece->pos);
    }
    if (piece->end >= 0 && piece->pos >= piece->end) {
        pieces_.erase(piece);
    } else if (held_.length() < 0) {
        // Nothing is known of the file: the next probe starts over.
        held_.Clear();
        pieces_.erase(piece);
    } else {
        piece->connection = piece->source = -1;  // given back
    }
    --s.active;
    --connections_;
    if (s.kind == SourceKind::Peer) coverageStale_ = true;  // its standing may change
    if (end == FetchEnd::Interrupted) end = stalled ? FetchEnd::Failed : FetchEnd::TakenOver;
    switch (end) {
        case FetchEnd::Done:
            s.failures = 0;
            s.busyRefusals = 0;
            break;
        case FetchEnd::Stopped:
            break;
        case FetchEnd::TakenOver:
            // A trial that a proven connection overtook: the next waits as after a failure.
            if (s.failures > 0) s.retryAt = now + std::chrono::milliseconds(500 * s.failures);
            break;
        case FetchEnd::Busy:
            if (s.active > 0) {
                s.cap = s.active;  // the server's limit for us: keep what it allowed
                s.capLoweredAt = now;
                break;
            }
            ++s.busyRefusals;
            s.retryAt = now + std::chrono::milliseconds(500 * std::min(s.busyRefusals, 10));
            if (s.busyRefusals >= kBusyRefusalsBeforeDropped) s.dropped = true;
            break;
        case FetchEnd::NotHeld:
            // A peer whose map promised these bytes is asked for its map again now.
            if (s.kind == SourceKind::Peer) s.heldDueAt = now;
            ++s.failures;
            s.retryAt = now + std::chrono::milliseconds(500 * std::min(s.failures, 10));
            if (s.failures >=
                (s.kind == SourceKind::Peer ? kPeerRefusalsBeforeDropped : kFailuresBeforeDropped))
                s.dropped = true;
            break;
        case FetchEnd::Failed:
            ++s.failures;
            s.retryAt = now + std::chrono::milliseconds(500 * s.failures);
            if (s.failures >= kFailuresBeforeDropped) s.dropped = true;
            break;
        case FetchEnd::WrongBytes:
            s.dropped = true;
            break;
        case FetchEnd::Interrupted:
            break;
    }
}

int64_t Scheduler::WorkLeft(int connection) const {
    const auto found = byConnection_.find(connection);
    if (found == byConnection_.end()) return 0;
    const Piece& p = *found->second;
    return p.end < 0 ? -1 : std::max<int64_t>(0, p.end - p.pos);
}

std::vector<int> Scheduler::Overdue(TimePoint now) const {
    std::vector<int> overdue;
    for (const Piece& p : pieces_) {
        if (!p.owned()) continue;
        if (p.Stalled(now) || (p.end >= 0 && p.pos >= p.end) ||
            sources_[static_cast<size_t>(p.source)].dropped) {
            overdue.push_back(p.connection);
        }
    }
    return overdue;
}

void Scheduler::Drop(int source, bool blamed) {
    if (source < 0 || source >= sourceCount()) return;
    SourceRecord& s = sources_[static_cast<size_t>(source)];
    s.dropped = true;
    coverageStale_ = true;
    if (blamed && !s.blamed) {
        s.blamed = true;
        blamed_.push_back(source);
    }
}

std::vector<ByteRange> Scheduler::Refetch(int writer, bool callerOnly) {
    const std::vector<ByteRange> ranges = held_.RangesOf(writer);
    for (const ByteRange& r : ranges) {
        held_.Remove(r.from, r.to);
        OpenWork(r.from, r.to, writer, callerOnly);
    }
    return ranges;
}

bool Scheduler::AnySourceLeft() const {
    // A peer whose map is not in yet, or who is still downloading, may come to hold what
    // is missing.
    if (held_.length() >= 0 && lookupAllowed_) {
        for (const SourceRecord& s : sources_) {
            if (s.kind == SourceKind::Peer && !s.dropped &&
                (!s.heldKnown || s.heldDueAt != TimePoint::max())) {
                return true;
            }
        }
    }
    auto usable = [this](const Piece* piece) {
        for (size_t i = 0; i < sources_.size(); ++i) {
            if (Eligible(sources_[i]) && (!piece || MayTake(*piece, static_cast<int>(i))))
                return true;
        }
        return false;
    };
    if (held_.length() < 0) return usable(nullptr);
    // Every open piece needs a source that may take it.
    for (const Piece& p : pieces_) {
        if (p.end > p.pos && !p.owned() && !usable(&p)) return false;
    }
    return usable(nullptr) || pieces_.empty();
}

int Scheduler::sourcesInUse() const {
    return static_cast<int>(std::count_if(sources_.begin(), sources_.end(),
                                          [](const SourceRecord& s) { return s.active > 0; }));
}

}  // namespace engine::transfer
