// The transfer's scheduler on a made-up clock: sources with the speeds, stalls, refusals,
// wrong blocks and lengths of each case deliver their bytes in steps of 5 ms, as the
// transfer's connections would, and each case checks where the bytes came from, who was
// dropped and how long the whole took against what the sources allow.
#include "engine/transfer/scheduler.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <set>

namespace engine::transfer {
namespace {

constexpr int64_t kMiB = 1 << 20;
constexpr int64_t kBlock = 256 * 1024;
constexpr auto kStep = std::chrono::milliseconds(5);

struct FakeSource {
    const char* url;
    double rate = kMiB;  // bytes per second of each connection
    SourceKind kind = SourceKind::Http;
    Trust trust = Trust::Caller;
    int maxConnections = 64;        // more are refused with 503
    int64_t stallAfter = -1;        // each connection sends nothing more after this many bytes
    std::set<int64_t> wrongBlocks;  // blocks it sends with other bytes
    int64_t length = -1;            // the length it tells; -1: the file's
    double firstByteAfter = 0;      // seconds before a connection's first byte
    double busyUntil = 0;           // every connection is refused with 503 before this
    // A peer's held map at a time (seconds); none: the whole file.
    std::function<std::vector<ByteRange>(double)> holds;
};

struct Work {
    int source;
    int64_t from, end;
    double at;
};

struct Outcome {
    bool complete = false;
    double seconds = 0;
    std::map<int, int64_t> keptBy;  // bytes held at the end, by writer
    double lengthKnownAt = -1;
    std::map<int, double> firstWorkAt;  // when each source got its first assignment
    std::vector<Work> work;             // every assignment
    int askedForWhatItLacks = 0;        // peers given bytes their map did not show
};

class Simulation {
  public:
    Simulation(std::vector<FakeSource> sources, int64_t length, bool wholeBlocks = false)
        : sources_(std::move(sources)), length_(length) {
        SchedulerSettings settings;
        settings.wholeBlocks = wholeBlocks;
        scheduler = std::make_unique<Scheduler>(settings);
        for (const FakeSource& s : sources_) scheduler->AddSource(s.url, s.kind, s.trust);
    }

    Outcome Run(double limitSeconds = 600) {
        Outcome out;
        const TimePoint start{};
        for (TimePoint now = start; now - start < std::chrono::duration<double>(limitSeconds);
             now += kStep) {
            const double t = std::chrono::duration<double>(now - start).count();
            // Held maps are asked for when due and answer at once.
            for (int peer : scheduler->PeersToAsk(now)) {
                const FakeSource& s = sources_[static_cast<size_t>(peer)];
                scheduler->TellHeld(peer, Told(s), Holding(s, t), now);
            }
            Open(now, t, out);
            for (auto it = connections_.begin(); it != connections_.end();) {
                it = Deliver(it, now, t, out) ? std::next(it) : connections_.erase(it);
            }
            for (int id : scheduler->Overdue(now)) {
                const auto found = connections_.find(id);
                if (found == connections_.end()) continue;
                scheduler->Record(Event::Ended(id, FetchEnd::Interrupted), now);
                connections_.erase(found);
            }
            if (scheduler->Complete()) {
                out.complete = true;
                out.seconds = t;
                break;
            }
            if (connections_.empty() && !scheduler->AnySourceLeft()) break;
        }
        for (const PieceMap::Span& span : scheduler->held().spans())
            out.keptBy[span.writer] += span.to - span.from;
        return out;
    }

    std::unique_ptr<Scheduler> scheduler;

  private:
    struct Connection {
        Assignment work;
        int64_t offset = 0;
        int64_t sent = 0;
        double credit = 0;
        double openedAt = 0;
    };
    using ConnectionIt = std::map<int, Connection>::iterator;

    int64_t Told(const FakeSource& s) const { return s.length >= 0 ? s.length : length_; }
    std::vector<ByteRange> Holding(const FakeSource& s, double t) const {
        if (!s.holds) return {{0, Told(s)}};
        return s.holds(t);
    }

    void Open(TimePoint now, double t, Outcome& out) {
        while (const std::optional<Assignment> work = scheduler->Pick(now)) {
            const FakeSource& s = sources_[static_cast<size_t>(work->source)];
            out.firstWorkAt.emplace(work->source, t);
            out.work.push_back({work->source, work->from, work->end, t});
            if (s.kind == SourceKind::Peer) {
                bool held = false;
                for (const ByteRange& r : Holding(s, t))
                    held = held || (r.from <= work->from && work->end <= r.to);
                out.askedForWhatItLacks += !held;
            }
            int running = 0;
            for (const auto& [id, c] : connections_) running += c.work.source == work->source;
            FetchEnd refused = FetchEnd::Done;
            if (running >= s.maxConnections || t < s.busyUntil) refused = FetchEnd::Busy;
            // A ranged answer names the length of the source's file.
            if (!work->probe() && Told(s) != length_) refused = FetchEnd::WrongBytes;
            if (refused != FetchEnd::Done) {
                scheduler->Record(Event::Ended(work->connection, refused), now);
                continue;
            }
            connections_[work->connection] = {*work, work->from, 0, 0, t};
        }
    }

    // False when the connection ended.
    bool Deliver(ConnectionIt it, TimePoint now, double t, Outcome& out) {
        Connection& c = it->second;
        const FakeSource& s = sources_[static_cast<size_t>(c.work.source)];
        if (t - c.openedAt < s.firstByteAfter) return true;
        if (c.work.probe() && scheduler->length() < 0) {
            if (!scheduler->TellLength(Told(s))) return End(it, FetchEnd::WrongBytes, now);
            out.lengthKnownAt = t;
        }
        if (s.stallAfter >= 0 && c.sent >= s.stallAfter) return true;
        c.credit += s.rate * std::chrono::duration<double>(kStep).count();
        const int64_t end = c.work.probe() ? Told(s) : c.work.end;
        int64_t n = std::min<int64_t>(static_cast<int64_t>(c.credit), end - c.offset);
        if (s.stallAfter >= 0) n = std::min(n, s.stallAfter - c.sent);
        if (n <= 0) return true;
        c.credit -= static_cast<double>(n);
        scheduler->Record(Event::Arrived(c.work.connection, n), now);
        if (scheduler->wholeBlocks()) {
            // Each block is kept once it has arrived whole, and only when it is right.
            const int64_t blockEnd = std::min((c.offset / kBlock + 1) * kBlock, length_);
            n = std::min(n, blockEnd - c.offset);
            c.offset += n;
            c.sent += n;
            if (c.offset < blockEnd) return true;
            const int64_t from = blockEnd - ((blockEnd - 1) % kBlock + 1);
            if (s.wrongBlocks.count(from / kBlock)) {
                scheduler->Record(Event::WrongBlock(c.work.connection, from, blockEnd), now);
                return End(it, FetchEnd::WrongBytes, now);
            }
            if (scheduler->Reserve(c.work.connection, from, blockEnd - from) < blockEnd - from)
                return End(it, FetchEnd::Done, now);
            scheduler->Record(Event::Kept(c.work.connection, from, blockEnd, true), now);
        } else {
            const int64_t kept = scheduler->Reserve(c.work.connection, c.offset, n);
            scheduler->Record(Event::Kept(c.work.connection, c.offset, c.offset + kept, false),
                              now);
            c.offset += n;
            c.sent += n;
            if (kept < n) return End(it, FetchEnd::Done, now);
        }
        if (scheduler->WorkLeft(c.work.connection) == 0 || c.offset >= end)
            return End(it, FetchEnd::Done, now);
        return true;
    }

    bool End(ConnectionIt it, FetchEnd end, TimePoint now) {
        scheduler->Record(Event::Ended(it->first, end), now);
        return false;
    }

    std::vector<FakeSource> sources_;
    int64_t length_;
    std::map<int, Connection> connections_;
};

TEST(Scheduler, SpeedsStallsAndRefusalsCostNoMoreThanTheyMust) {
    const int64_t length = 64 * kMiB;
    struct Case {
        const char* what;
        std::vector<FakeSource> sources;
        double ideal;  // seconds the sources' speeds allow
        bool firstDropped;
    };
    FakeSource fast{"http://fast/f", 4 * kMiB}, slow{"http://slow/f", 1 * kMiB};
    FakeSource stalling{"http://stalls/f", 4 * kMiB};
    stalling.stallAfter = kMiB;
    FakeSource busy{"http://busy/f", 4 * kMiB};
    busy.maxConnections = 2;
    FakeSource far = fast;
    far.url = "http://far/f";
    far.firstByteAfter = 2;
    const Case cases[] = {
        // Four connections each: 16 + 4 MiB/s.
        {"a fast and a slow source", {fast, slow}, 64.0 / 20, false},
        // The stalled pieces go to the slow source, and the stalling one is dropped after
        // its third stall.
        {"a source whose connections stall", {stalling, slow}, 64.0 / 4, true},
        // 503 past two connections: 8 + 4 MiB/s.
        {"a source that refuses a third connection", {busy, slow}, 64.0 / 12, false},
        // Each request waits 2 s for its first byte: not taken for a stall, so at worst
        // as fast as the slow source alone.
        {"a source slow to answer", {far, slow}, 64.0 / 4, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Simulation sim(c.sources, length);
        Outcome out = sim.Run();
        ASSERT_TRUE(out.complete);
        EXPECT_LE(out.seconds, c.ideal * 1.1 + 0.5);
        EXPECT_EQ(out.keptBy[0] + out.keptBy[1], length);
        EXPECT_EQ(sim.scheduler->source(0).dropped, c.firstDropped);
        EXPECT_FALSE(sim.scheduler->source(1).dropped);
        for (int i = 0; i < 2; ++i) EXPECT_GT(out.keptBy[i], 0) << i;
    }
}

TEST(Scheduler, TheFasterSourceDeliversMoreAndARefusingOneKeepsWhatItAllowed) {
    FakeSource fast{"http://fast/f", 4 * kMiB}, slow{"http://slow/f", 1 * kMiB};
    fast.maxConnections = 2;
    Simulation sim({fast, slow}, 64 * kMiB);
    Outcome out = sim.Run();
    ASSERT_TRUE(out.complete);
    EXPECT_GT(out.keptBy[0], out.keptBy[1]);
    EXPECT_EQ(sim.scheduler->source(0).cap, 2);
    EXPECT_FALSE(sim.scheduler->source(0).dropped);
}

TEST(Scheduler, WrongBlocksAndOtherLengthsDropTheirSource) {
    const int64_t length = 16 * kMiB + 1000;  // a short last block
    FakeSource good{"http://good/f", kMiB};
    FakeSource wrong{"http://wrong/f", 4 * kMiB};
    wrong.trust = Trust::Lookup;
    wrong.wrongBlocks = {20};
    FakeSource other{"http://other/f", 4 * kMiB};
    other.length = length + 1;
    {
        SCOPED_TRACE("a wrong block");
        // As with a block list: the length is known from the start, and the wrong source
        // takes the first piece, from the file's start.
        Simulation sim({wrong, good}, length, true);
        sim.scheduler->SetLookupSourcesAllowed(true);
        ASSERT_TRUE(sim.scheduler->TellLength(length));
        Outcome out = sim.Run();
        ASSERT_TRUE(out.complete);
        EXPECT_TRUE(sim.scheduler->source(0).dropped);
        EXPECT_EQ(sim.scheduler->blamed(), std::vector<int>{0});
        // The blocks it sent before the wrong one were right and stay; the wrong one came
        // from the other source.
        EXPECT_GT(out.keptBy[0], 0);
        for (const PieceMap::Span& span : sim.scheduler->held().spans()) {
            EXPECT_TRUE(span.hashed);
            if (span.from < 21 * kBlock && span.to > 20 * kBlock) {
                EXPECT_EQ(span.writer, 1);
            }
        }
    }
    {
        SCOPED_TRACE("a source of another length");
        Simulation sim({good, other}, length);
        Outcome out = sim.Run();
        ASSERT_TRUE(out.complete);
        EXPECT_TRUE(sim.scheduler->source(1).dropped);
        EXPECT_TRUE(sim.scheduler->blamed().empty());
        EXPECT_EQ(out.keptBy[0], length);
    }
}

TEST(Scheduler, PeersAndUncheckedLookupSourcesWait) {
    const int64_t length = 32 * kMiB;
    FakeSource caller{"http://caller/f", kMiB};
    caller.firstByteAfter = 1;  // tells the length after a second
    FakeSource peer{"http://peer/f", 8 * kMiB, SourceKind::Peer, Trust::Lookup};
    FakeSource mirror{"http://lookup/f", 8 * kMiB, SourceKind::Http, Trust::Lookup};
    struct Case {
        const char* what;
        bool checked;
    } cases[] = {{"bytes that can be checked", true}, {"nothing to check against", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Simulation sim({caller, peer, mirror}, length);
        sim.scheduler->SetLookupSourcesAllowed(c.checked);
        Outcome out = sim.Run();
        ASSERT_TRUE(out.complete);
        if (c.checked) {
            // A peer cannot tell the length: it gets work once the caller's source told it.
            ASSERT_TRUE(out.firstWorkAt.count(1));
            EXPECT_GE(out.firstWorkAt.at(1), out.lengthKnownAt);
            EXPECT_GT(out.keptBy[1], 0);
            EXPECT_GT(out.keptBy[2], 0);
        } else {
            EXPECT_EQ(out.firstWorkAt.count(1) + out.firstWorkAt.count(2), 0u);
            EXPECT_EQ(out.keptBy[0], length);
        }
    }
    // With only peers and no one to tell the length, nothing can be done.
    Simulation peersOnly({peer}, length);
    peersOnly.scheduler->SetLookupSourcesAllowed(true);
    EXPECT_FALSE(peersOnly.scheduler->AnySourceLeft());
    EXPECT_FALSE(peersOnly.Run(5).complete);
}

TEST(Scheduler, RefetchedBytesGoToAnotherSource) {
    const int64_t length = 8 * kMiB;
    Simulation sim({{"http://a/f", 2 * kMiB}, {"http://b/f", 2 * kMiB}}, length);
    ASSERT_TRUE(sim.Run().complete);
    const std::vector<ByteRange> again = sim.scheduler->Refetch(0);
    ASSERT_FALSE(again.empty());
    EXPECT_FALSE(sim.scheduler->Complete());
    Outcome out = sim.Run();
    ASSERT_TRUE(out.complete);
    EXPECT_EQ(out.keptBy[1], length);  // source 0 was not asked for its own bytes again
}

// Bytes of [from, to) held at the end that `source` wrote.
int64_t KeptIn(const Scheduler& scheduler, int source, int64_t from, int64_t to) {
    int64_t kept = 0;
    for (const PieceMap::Span& span : scheduler.held().spans()) {
        if (span.writer == source)
            kept += std::max<int64_t>(0, std::min(span.to, to) - std::max(span.from, from));
    }
    return kept;
}

// As with a block list: the length is known from the start and lookup sources may deliver.
std::unique_ptr<Simulation> Checked(std::vector<FakeSource> sources, int64_t length) {
    auto sim = std::make_unique<Simulation>(std::move(sources), length, true);
    sim->scheduler->SetLookupSourcesAllowed(true);
    EXPECT_TRUE(sim->scheduler->TellLength(length));
    return sim;
}

TEST(Scheduler, APeerIsAskedOnlyForWhatItHoldsAndTheOriginForWhatNoPeerHolds) {
    const int64_t length = 32 * kMiB;
    FakeSource origin{"http://origin/f", kMiB};
    FakeSource peer{"http://peer/f", 8 * kMiB, SourceKind::Peer, Trust::Lookup};
    peer.holds = [](double) { return std::vector<ByteRange>{{8 * kMiB, 24 * kMiB}}; };
    auto sim = Checked({origin, peer}, length);
    const Outcome out = sim->Run();
    ASSERT_TRUE(out.complete);
    EXPECT_EQ(out.askedForWhatItLacks, 0);
    EXPECT_EQ(out.keptBy.at(1), 16 * kMiB);
    EXPECT_EQ(out.keptBy.at(0), 16 * kMiB);
}

// A peer whose map shows bytes only later: what the origin fetches there until then is all
// it fetches there; its pieces end where the peer's bytes begin.
TEST(Scheduler, TheOriginGivesWayOnceAPeersMapShowsItsBytes) {
    const int64_t length = 64 * kMiB;
    // Both as fast: only the map keeps the origin out of the peer's bytes.
    FakeSource origin{"http://origin/f", kMiB};
    FakeSource peer{"http://peer/f", kMiB, SourceKind::Peer, Trust::Lookup};
    peer.holds = [](double t) {
        return t < 1 ? std::vector<ByteRange>{} : std::vector<ByteRange>{{32 * kMiB, 64 * kMiB}};
    };
    auto sim = Checked({origin, peer}, length);
    const Outcome out = sim->Run();
    ASSERT_TRUE(out.complete);
    EXPECT_EQ(out.askedForWhatItLacks, 0);
    // The map was asked for again within 2 s: four connections at 1 MiB/s, two of them in
    // the back half, fetched at most 4 MiB there until then (and a block each under way).
    EXPECT_LE(KeptIn(*sim->scheduler, 0, 32 * kMiB, 64 * kMiB), 4 * kMiB + 2 * kBlock);
    EXPECT_GE(out.keptBy.at(1), 28 * kMiB - 2 * kBlock);
}

// A peer that is downloading from the front of the file may be fetching right after what it
// holds: the origin's first piece begins in the middle of the rest instead.
TEST(Scheduler, APieceBesideAPeersBytesBeginsInTheMiddleOfTheRest) {
    const int64_t length = 64 * kMiB;
    FakeSource origin{"http://origin/f", kMiB};
    FakeSource peer{"http://peer/f", 4 * kMiB, SourceKind::Peer, Trust::Lookup};
    peer.holds = [length](double t) {
        const int64_t front =
            std::min<int64_t>(length, 2 * kMiB + static_cast<int64_t>(t * 2 * kMiB));
        return std::vector<ByteRange>{{0, front / kBlock * kBlock}};
    };
    auto sim = Checked({origin, peer}, length);
    const Outcome out = sim->Run();
    ASSERT_TRUE(out.complete);
    EXPECT_EQ(out.askedForWhatItLacks, 0);
    const Work first = *std::find_if(out.work.begin(), out.work.end(),
                                     [](const Work& w) { return w.source == 0; });
    EXPECT_GE(first.from, 2 * kMiB + 62 * kMiB / 4);
    EXPECT_LT(first.from, 2 * kMiB + 3 * 62 * kMiB / 4);
    EXPECT_EQ(first.end, length);
}

// Peers save the origin's bytes, but never at the player's cost: a slow peer's pieces are
// shared with the faster origin so that both end together.
TEST(Scheduler, ASlowPeerDoesNotHoldTheDownloadBack) {
    const int64_t length = 32 * kMiB;
    FakeSource origin{"http://origin/f", 4 * kMiB};
    FakeSource peer{"http://peer/f", 256 * 1024, SourceKind::Peer, Trust::Lookup};
    auto sim = Checked({origin, peer}, length);
    const Outcome out = sim->Run();
    ASSERT_TRUE(out.complete);
    const double ideal = 32.0 / (16 + 1);
    EXPECT_LE(out.seconds, ideal * 1.3 + 1);
    EXPECT_GT(out.keptBy.at(0), out.keptBy.at(1));
}

TEST(Scheduler, ABusyServerIsWaitedForNotDropped) {
    FakeSource busy{"http://busy/f", 4 * kMiB};
    busy.busyUntil = 8;
    Simulation sim({busy}, 16 * kMiB);
    const Outcome out = sim.Run();
    ASSERT_TRUE(out.complete);
    EXPECT_GE(out.seconds, 8);
    EXPECT_FALSE(sim.scheduler->source(0).dropped);
}

TEST(Scheduler, PeersWithoutAMapOrWithNothingWantedOrAnotherFileAreDropped) {
    const int64_t length = 4 * kMiB;
    SchedulerSettings settings;
    settings.wholeBlocks = true;
    Scheduler scheduler(settings);
    scheduler.SetLookupSourcesAllowed(true);
    ASSERT_TRUE(scheduler.TellLength(length));
    const int silent = scheduler.AddSource("http://silent/k", SourceKind::Peer, Trust::Lookup);
    const int idle = scheduler.AddSource("http://idle/k", SourceKind::Peer, Trust::Lookup);
    const int other = scheduler.AddSource("http://other/k", SourceKind::Peer, Trust::Lookup);
    TimePoint now{};
    EXPECT_EQ(scheduler.PeersToAsk(now), (std::vector<int>{silent, idle, other}));
    // Peers still to be heard from may come to deliver.
    EXPECT_TRUE(scheduler.AnySourceLeft());
    scheduler.TellHeld(other, length + 1, {{0, length + 1}}, now);
    EXPECT_TRUE(scheduler.source(other).dropped);
    for (int i = 0; i < 3; ++i) {
        EXPECT_FALSE(scheduler.source(silent).dropped);
        scheduler.HeldUnknown(silent, now);
    }
    EXPECT_TRUE(scheduler.source(silent).dropped);
    // A minute of maps asked every second that show nothing wanted.
    for (int i = 0; i < 60; ++i) {
        EXPECT_FALSE(scheduler.source(idle).dropped) << i;
        scheduler.TellHeld(idle, length, {}, now);
        now += std::chrono::seconds(1);
    }
    EXPECT_TRUE(scheduler.source(idle).dropped);
    EXPECT_FALSE(scheduler.AnySourceLeft());
}

// A peer's bytes fetched again from the caller's sources (its round of blame) go to the
// origin, though the peer's map still shows the whole file: they are not left to a peer that
// may not take them.
TEST(Scheduler, BytesAPeerMayNotTakeAreNotLeftToIt) {
    const int64_t length = 16 * kMiB;
    FakeSource origin{"http://origin/f", kMiB};
    FakeSource peer{"http://peer/f", 8 * kMiB, SourceKind::Peer, Trust::Lookup};
    auto sim = Checked({origin, peer}, length);
    ASSERT_TRUE(sim->Run().complete);
    ASSERT_FALSE(sim->scheduler->Refetch(1, true).empty());
    const Outcome out = sim->Run();
    ASSERT_TRUE(out.complete);
    EXPECT_EQ(out.keptBy.at(0), length);
}

}  // namespace
}  // namespace engine::transfer
