#include "engine/multi_source_transfer.h"

#include <openssl/evp.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <list>
#include <mutex>
#include <thread>

#include "engine/ftp_source.h"
#include "engine/hex_text.h"
#include "engine/logger.h"
#include "engine/resume_state.h"
#include "platform/file_system.h"
#include "platform/http_transfer.h"
#include "platform/native_path.h"

namespace engine {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int32_t kBlockSize = 256 * 1024;  // the unit of the region map
// A piece with less than this left is not split: the new connection would cost more than
// it saves.
constexpr int64_t kMinSplitBytes = 2 * int64_t{kBlockSize};
constexpr int kFailuresBeforeDropped = 3;
// A peer may come to hold bytes it lacks now, but not one that has refused this many
// times in a row.
constexpr int kPeerRefusalsBeforeDropped = 20;
constexpr size_t kFtpChunk = 64 * 1024;
// A connection that has written nothing for this long is taken to have stalled: another
// connection takes over all that is left of its piece. Before its first byte it is given
// as long as a connection may take to open: a distant server answers late.
constexpr auto kStallAfter = std::chrono::milliseconds(1500);
constexpr auto kFirstByteWait = std::chrono::seconds(10);
// Taking over the tail of a piece that is moving costs a new request: only worth it when
// the piece then ends at least this much sooner, and for at least this many bytes.
constexpr double kMinGainSeconds = 0.05;
constexpr int64_t kMinTakeOverBytes = 64 * 1024;
// A piece with at most this much left whose connection has written nothing for this long
// is taken over whole by a free connection.
constexpr int64_t kQuietTailBytes = 1 << 20;
constexpr auto kQuietAfter = std::chrono::milliseconds(300);
// The most one ranged HTTP request asks for: the rest of a longer piece is asked for
// again (or by another connection), so that work moves between sources at request
// boundaries instead of by cutting connections short, and a broken connection costs at
// most one request.
constexpr int64_t kMaxRequestBytes = 16 << 20;
// A source that has failed before is tried again on no more than this.
constexpr int64_t kTrialBytes = 2 * int64_t{kBlockSize};
// How often a connection's speed is measured, and the shortest time an average is taken
// over before the first measurement.
constexpr auto kRateWindow = std::chrono::milliseconds(200);
constexpr double kMinAverageSeconds = 0.005;
// A source that refused a connection is offered one more again after this long: the
// refusal may have come while the server still counted one that had just closed.
constexpr auto kCapRetryAfter = std::chrono::seconds(5);

bool StartsWithNoCase(const std::string& text, const char* prefix) {
    for (size_t i = 0; prefix[i] != '\0'; ++i) {
        if (i >= text.size() || std::tolower(static_cast<unsigned char>(text[i])) != prefix[i])
            return false;
    }
    return true;
}

struct Source {
    std::string url;
    bool ftp = false;
    bool peer = false;  // learned while running: may hold only part of the file
    int active = 0;
    int cap = 0;  // connections it may have now
    int failures = 0;
    bool dropped = false;
    Clock::time_point retryAt{};
    Clock::time_point capLoweredAt{};
    double rate = -1;  // bytes per second of one of its connections; -1 until measured
};

// Open work: bytes [pos, end) still to fetch, taken by at most one connection.
struct Piece {
    int64_t pos = 0;
    int64_t end = 0;
    bool owned = false;
    // Of the connection that owns it:
    int sourceIndex = -1;
    Clock::time_point lastData{};  // when it last wrote (or took the piece)
    Clock::time_point windowStart{};
    int64_t windowBytes = 0;
    double rate = -1;                              // bytes per second; -1 until measured
    platform::HttpInterrupt* interrupt = nullptr;  // ends its request; null for FTP
    Clock::time_point ownedAt{};
    int64_t ownedFrom = 0;  // pos when it was taken

    // Its connection's speed: the last measurement, else the average since it took the
    // piece (a fast connection may finish before its first measurement, and a server that
    // sends in bursts may leave a window open for long); -1 when nothing is known yet.
    // `minSeconds` keeps a connection that has just begun from being judged by its first
    // bytes; a finished one is judged by all of them.
    double Speed(Clock::time_point now, double minSeconds = kMinAverageSeconds) const {
        if (rate > 0) return rate;
        const double seconds = std::chrono::duration<double>(now - ownedAt).count();
        if (seconds <= 0 || seconds < minSeconds || pos <= ownedFrom) return -1;
        return static_cast<double>(pos - ownedFrom) / seconds;
    }
    bool Started() const { return pos > ownedFrom; }
    bool Stalled(Clock::time_point now) const {
        return now - lastData >= (Started() ? Clock::duration(kStallAfter) : kFirstByteWait);
    }
};

// How one fetch went, for the source's record.
enum class FetchEnd {
    Done,
    Busy,     // the server has no room for another connection now
    NotHeld,  // 404 or 416: a peer that does not hold the bytes (yet); a mirror without them
    Failed,
    WrongBytes,
    Stopped,
    TakenOver,  // another connection took the rest before this one showed its speed
};

}  // namespace

struct TransferState {
    TransferLimits limits;
    mutable std::mutex lock;
    std::condition_variable wake;
    TransferRequest request;
    std::unique_ptr<ResumeFiles> files;
    FileDescription description;
    std::function<void(TransferEnd)> ended;

    // Guarded by lock.
    std::vector<Source> sources;
    std::list<Piece> pieces;
    int64_t total = -1;  // -1 until a source told the length
    int32_t blockSize = kBlockSize;
    bool probing = false;  // a connection is finding out the length
    bool resumed = false;  // the pieces come from a saved state
    int connections = 0;
    int workersRunning = 0;
    std::string lastError;
    bool finished = false;  // the target holds the file
    std::string finishedPath;

    std::atomic<int> stop{0};  // 0 run, 1 pause, 2 cancel
    std::atomic<bool> running{false};
    std::thread coordinator;
    struct Worker {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> done;
    };
    std::vector<Worker> workers;  // the coordinator's

    void Coordinate();
    bool SpawnWorkerIfUseful();  // under lock
    void Work();
    bool TakeWork(int& sourceIndex, std::list<Piece>::iterator& piece, bool& probe, bool dryRun);
    std::list<Piece>::iterator TakeOver(int sourceIndex, Clock::time_point now, bool dryRun);
    platform::HttpRequest SourceRequest(const std::string& url) const;
    void Own(Piece& piece, int sourceIndex, Clock::time_point now);
    bool ResumedLengthStillHolds();
    FetchEnd FetchHttp(const Source& source, std::list<Piece>::iterator piece, bool probe);
    FetchEnd FetchFtp(const Source& source, std::list<Piece>::iterator piece, bool probe);
    void JoinFinishedWorkers(bool all);
    // Writes what arrived for `piece` at `offset`; false when the connection should stop
    // (its piece is done or was taken over, or the write failed: `failed` set).
    bool Deliver(std::list<Piece>::iterator piece, int64_t& offset, const char* data, size_t size,
                 bool& failed);
    void Record(int sourceIndex, FetchEnd end);
    int64_t ReceivedLocked() const;
    bool HeldLocked(int64_t offset, int64_t size) const;
    void SaveState();
    bool Md5Matches();
    void Fail(const std::string& why);
};

struct MultiSourceTransfer::State : TransferState {};

namespace {

class HttpSink : public platform::HttpTransferEvents {
  public:
    HttpSink(TransferState& s, std::list<Piece>::iterator piece, int64_t offset, int64_t end,
             bool probe)
        : s_(s), piece_(piece), offset_(offset), askedEnd_(end), probe_(probe) {}
    void OnResolving(const std::string&) override {}
    void OnConnecting() override {}
    void OnConnected() override {}
    void OnRedirect(long, const std::string&) override {}
    void OnContentRange(int64_t first, int64_t last, int64_t total) override {
        hasRange_ = true;
        rangeFirst_ = first;
        rangeLast_ = last;
        rangeTotal_ = total;
    }
    bool OnResponse(long status, int64_t length) override;
    bool OnBody(const char* data, size_t size) override {
        if (!s_.Deliver(piece_, offset_, data, size, failed)) {
            reachedEnd = !failed;
            return false;
        }
        return true;
    }
    bool OnTick() override { return s_.stop.load() == 0; }

    bool failed = false;
    bool wrongBytes = false;
    bool busy = false;
    bool notHeld = false;
    int64_t answeredEnd = -1;  // where the answer's range ends, when it is shorter
    bool reachedEnd = false;
    long status = 0;

  private:
    TransferState& s_;
    std::list<Piece>::iterator piece_;
    int64_t offset_;
    int64_t askedEnd_;  // the piece may shrink while the request is on its way
    bool probe_;
    bool hasRange_ = false;
    int64_t rangeFirst_ = -1, rangeLast_ = -1, rangeTotal_ = -1;
};

bool HttpSink::OnResponse(long code, int64_t length) {
    status = code;
    if (code == 503 || code == 429 || code == 404 || code == 416) {
        busy = code == 503 || code == 429;
        notHeld = !busy;
        return false;
    }
    std::lock_guard<std::mutex> guard(s_.lock);
    if (probe_) {
        // The first connection asks for the whole file and learns its length.
        if (code != 200 && code != 206) {
            failed = true;
            return false;
        }
        if (length >= 0 && (s_.total < 0 || s_.total == length)) {
            s_.total = length;
            piece_->end = length;
            s_.wake.notify_all();
        } else if (length >= 0) {
            wrongBytes = true;  // another length than the file has
            return false;
        }
        return true;
    }
    // A ranged request must get its range of this file, or the start of it (a peer sends
    // what it holds): a 200 is the whole file from its start (the server ignored the
    // range), and another first byte, a longer range, a body of another length or another
    // file length is another range, or another file.
    const bool rangeRight = hasRange_ && rangeFirst_ == offset_ && rangeLast_ >= rangeFirst_ &&
                            rangeLast_ <= askedEnd_ - 1 &&
                            (length < 0 || length == rangeLast_ - rangeFirst_ + 1) &&
                            (rangeTotal_ < 0 || s_.total < 0 || rangeTotal_ == s_.total);
    if (code != 206 || !rangeRight) {
        wrongBytes = code == 200 || code == 206;
        failed = !wrongBytes;
        return false;
    }
    answeredEnd = rangeLast_ + 1;
    return true;
}

}  // namespace

bool TransferState::Deliver(std::list<Piece>::iterator piece, int64_t& offset, const char* data,
                            size_t size, bool& failed) {
    int64_t end;
    {
        std::lock_guard<std::mutex> guard(lock);
        end = piece->end;
    }
    if (stop.load() != 0) return false;
    // The piece may have been cut short by a connection that took over its tail.
    const int64_t usable = end >= 0 ? std::min<int64_t>(static_cast<int64_t>(size), end - offset)
                                    : static_cast<int64_t>(size);
    if (usable > 0) {
        if (files->WriteData(offset, data, static_cast<size_t>(usable)) != usable) {
            failed = true;
            Fail("the data file could not be written");
            return false;
        }
        offset += usable;
    }
    std::lock_guard<std::mutex> guard(lock);
    piece->pos = offset;
    const Clock::time_point now = Clock::now();
    piece->lastData = now;
    piece->windowBytes += usable;
    const double seconds = std::chrono::duration<double>(now - piece->windowStart).count();
    if (now - piece->windowStart >= kRateWindow && seconds > 0) {
        const double measured = static_cast<double>(piece->windowBytes) / seconds;
        piece->rate = piece->rate < 0 ? measured : (piece->rate + measured) / 2;
        piece->windowStart = now;
        piece->windowBytes = 0;
        if (piece->sourceIndex >= 0) {
            Source& src = sources[static_cast<size_t>(piece->sourceIndex)];
            src.rate = src.rate < 0 ? piece->rate : 0.7 * src.rate + 0.3 * piece->rate;
        }
    }
    return piece->end < 0 || offset < piece->end;
}

int64_t TransferState::ReceivedLocked() const {
    if (total < 0) return pieces.empty() ? 0 : pieces.front().pos;
    int64_t open = 0;
    for (const Piece& p : pieces) open += std::max<int64_t>(0, p.end - p.pos);
    return total - open;
}

bool TransferState::HeldLocked(int64_t offset, int64_t size) const {
    if (total < 0 || offset < 0 || size <= 0 || offset + size > total) return false;
    for (const Piece& p : pieces) {
        if (p.pos < offset + size && offset < p.end) return false;
    }
    return true;
}

void TransferState::Fail(const std::string& why) {
    std::lock_guard<std::mutex> guard(lock);
    lastError = why;
    Logger::Instance().Log(kLogLevelInfo, "transfer: %s", why.c_str());
}

void TransferState::Own(Piece& piece, int sourceIndex, Clock::time_point now) {
    piece.owned = true;
    piece.sourceIndex = sourceIndex;
    piece.lastData = piece.windowStart = piece.ownedAt = now;
    piece.windowBytes = 0;
    piece.rate = -1;
    piece.ownedFrom = piece.pos;
}

// Finds work for one more connection: a source with room and a piece to fetch. With
// `dryRun` it only tells whether there is some.
bool TransferState::TakeWork(int& sourceIndex, std::list<Piece>::iterator& piece, bool& probe,
                             bool dryRun) {
    const Clock::time_point now = Clock::now();
    // A source with a stalled connection, or one that failed before and is on trial,
    // gets no further connection until that one moves.
    std::vector<bool> waiting(sources.size(), false);
    for (const Piece& p : pieces) {
        if (!p.owned || p.sourceIndex < 0) continue;
        const Source& owner = sources[static_cast<size_t>(p.sourceIndex)];
        if (p.Stalled(now) || (owner.failures > 0 && p.Speed(now) <= 0))
            waiting[static_cast<size_t>(p.sourceIndex)] = true;
    }
    // The source with the fewest connections that may take one more.
    sourceIndex = -1;
    for (size_t i = 0; i < sources.size(); ++i) {
        Source& s = sources[i];
        if (s.dropped || s.retryAt > now || waiting[i]) continue;
        if (s.cap < limits.connectionsPerSource && s.active >= s.cap &&
            now - s.capLoweredAt >= kCapRetryAfter) {
            ++s.cap;
            s.capLoweredAt = now;
        }
        if (s.active >= s.cap) continue;
        if (sourceIndex < 0 || s.active < sources[static_cast<size_t>(sourceIndex)].active)
            sourceIndex = static_cast<int>(i);
    }
    if (sourceIndex < 0 || connections >= limits.connectionsInAll) return false;
    probe = false;
    if (total < 0) {
        if (probing || sources[static_cast<size_t>(sourceIndex)].peer) return false;
        if (dryRun) return true;
        probing = probe = true;
        pieces.push_back({0, -1, false});
        piece = std::prev(pieces.end());
        Own(*piece, sourceIndex, now);
        return true;
    }
    // An open piece nobody fetches, the largest first; else part of one that is fetched.
    auto best = pieces.end();
    for (auto it = pieces.begin(); it != pieces.end(); ++it) {
        if (!it->owned && (best == pieces.end() || it->end - it->pos > best->end - best->pos))
            best = it;
    }
    if (best == pieces.end()) best = TakeOver(sourceIndex, now, dryRun);
    if (best == pieces.end()) return false;
    if (dryRun) return true;
    Own(*best, sourceIndex, now);
    piece = best;
    return true;
}

// The piece whose end comes soonest when this source takes part of it: the new connection
// takes the tail, cut so that both connections end together at the speeds they have shown
// (halves while nothing is measured yet). A piece whose connection has stalled is taken
// over whole. Returns the new piece (not yet owned), or the end of `pieces` when no split
// is worth a request.
std::list<Piece>::iterator TransferState::TakeOver(int sourceIndex, Clock::time_point now,
                                                   bool dryRun) {
    const Source& taker = sources[static_cast<size_t>(sourceIndex)];
    auto best = pieces.end();
    int64_t bestCut = 0;
    double bestGain = 0;  // seconds saved; stalled pieces rank above any moving one
    for (auto it = pieces.begin(); it != pieces.end(); ++it) {
        const int64_t left = it->end - it->pos;
        if (!it->owned || left <= 0) continue;
        // A source that failed before and has not shown its speed on this piece yet
        // holds it only until a proven connection is free.
        const bool unproven = it->Speed(now) <= 0 && it->sourceIndex >= 0 &&
                              sources[static_cast<size_t>(it->sourceIndex)].failures > 0;
        const bool stalled = it->Stalled(now) || unproven;
        // The last bytes of a piece whose connection has gone quiet for a while (a server
        // that sends in bursts, or one that slows down) are taken over whole: waiting for
        // its next burst costs more than a request.
        const bool quietTail =
            it->Started() && left <= kQuietTailBytes && now - it->lastData >= kQuietAfter;
        // A connection that has shown nothing yet is taken to be as fast as its source.
        double own = it->Speed(now);
        if (own <= 0 && it->sourceIndex >= 0)
            own = sources[static_cast<size_t>(it->sourceIndex)].rate;
        int64_t cut;
        double gain;
        if (stalled) {
            cut = it->pos;
            gain = 1e9 + static_cast<double>(left);
        } else if (quietTail) {
            cut = it->pos;
            gain = 1e6 + static_cast<double>(left);
        } else if (own <= 0) {
            // Nothing measured yet: halves, and only of a piece worth two connections.
            if (left < 2 * kMinSplitBytes) continue;
            cut = it->pos + left / 2;
            gain = static_cast<double>(left) / 1e12;  // any measured gain ranks above
        } else {
            const double other = taker.rate > 0 ? taker.rate : own;
            cut = it->pos + static_cast<int64_t>(static_cast<double>(left) * own / (own + other));
            gain = static_cast<double>(left) / own - static_cast<double>(left) / (own + other);
            if (gain < kMinGainSeconds) continue;
        }
        if (taker.failures > 0) cut = std::max(cut, it->end - kTrialBytes);
        if (it->end - cut < kMinTakeOverBytes && !stalled && !quietTail) continue;
        if (best == pieces.end() || gain > bestGain) {
            best = it;
            bestCut = cut;
            bestGain = gain;
        }
    }
    if (best == pieces.end() || dryRun) return best;
    pieces.push_back({bestCut, best->end, false});
    best->end = bestCut;
    // Nothing is left for the old connection: end it now rather than at its time-out.
    if (best->end <= best->pos && best->interrupt) best->interrupt->Interrupt();
    return std::prev(pieces.end());
}

platform::HttpRequest TransferState::SourceRequest(const std::string& url) const {
    platform::HttpRequest http;
    http.url = url;
    http.userAgent = "Browser1.0";
    http.bypassCaches = false;
    http.connectTimeoutSeconds = 10;
    http.noDataTimeoutSeconds = limits.noDataSeconds;
    if (!request.referer.empty()) http.extraHeaders.push_back("Referer: " + request.referer);
    return http;
}

FetchEnd TransferState::FetchHttp(const Source& source, std::list<Piece>::iterator piece,
                                  bool probe) {
    int64_t offset, end;
    {
        std::lock_guard<std::mutex> guard(lock);
        offset = piece->pos;
        end = piece->end;
    }
    if (!probe) end = std::min(end, offset + kMaxRequestBytes);
    platform::HttpRequest http = SourceRequest(source.url);
    if (!probe) {
        http.rangeStart = offset;
        http.rangeEnd = end - 1;
    }
    platform::HttpInterrupt interrupt;
    http.interrupt = &interrupt;
    {
        std::lock_guard<std::mutex> guard(lock);
        piece->interrupt = &interrupt;
    }
    HttpSink sink(*this, piece, offset, end, probe);
    const platform::HttpResult result = platform::HttpGet(http, sink);
    bool stalled;
    {
        std::lock_guard<std::mutex> guard(lock);
        piece->interrupt = nullptr;
        stalled = piece->Stalled(Clock::now());
    }
    if (stop.load() != 0) return FetchEnd::Stopped;
    if (sink.reachedEnd) return FetchEnd::Done;
    // Ended by a connection that took over the rest of its piece.
    if (interrupt.interrupted() && !stalled) return FetchEnd::TakenOver;
    if (sink.wrongBytes) return FetchEnd::WrongBytes;
    if (sink.busy) return FetchEnd::Busy;
    if (sink.notHeld) return FetchEnd::NotHeld;
    if (sink.failed || result.outcome != platform::HttpOutcome::Complete) {
        std::lock_guard<std::mutex> guard(lock);
        lastError = source.url + ": status " + std::to_string(result.lastStatus) + ", outcome " +
                    std::to_string(static_cast<int>(result.outcome));
        return FetchEnd::Failed;
    }
    std::lock_guard<std::mutex> guard(lock);
    if (probe && total < 0) {
        // No length was given: the body, now whole, is the file.
        total = piece->pos;
        piece->end = piece->pos;
    }
    // A shorter answer delivered whole: the rest of the piece is given back.
    const bool answered =
        piece->pos >= piece->end || (sink.answeredEnd > 0 && piece->pos >= sink.answeredEnd);
    return answered ? FetchEnd::Done : FetchEnd::Failed;
}

FetchEnd TransferState::FetchFtp(const Source& source, std::list<Piece>::iterator piece,
                                 bool probe) {
    FtpTimeouts timeouts;
    timeouts.dataMs = limits.noDataSeconds * 1000;
    FtpSource ftp(source.url, timeouts);
    if (ftp.Connect(source.url) != 0) return FetchEnd::Failed;
    if (probe) {
        int64_t size = -1;
        const int code = ftp.Probe(size);
        if ((code != 200 && code != 206) || size < 0) return FetchEnd::Failed;
        std::lock_guard<std::mutex> guard(lock);
        if (total >= 0 && total != size) return FetchEnd::WrongBytes;
        total = size;
        piece->end = size;
        wake.notify_all();
    }
    int64_t offset;
    {
        std::lock_guard<std::mutex> guard(lock);
        offset = piece->pos;
        if (piece->pos >= piece->end) return FetchEnd::Done;
    }
    if (ftp.Open(offset) != 200) return FetchEnd::Failed;
    std::vector<char> buffer(kFtpChunk);
    for (;;) {
        if (stop.load() != 0) return FetchEnd::Stopped;
        const int64_t got = ftp.Read(buffer.data(), buffer.size());
        if (got < 0) return FetchEnd::Failed;
        if (got == 0) {
            std::lock_guard<std::mutex> guard(lock);
            // A file that ends before its length is not the file.
            return piece->pos >= piece->end ? FetchEnd::Done : FetchEnd::WrongBytes;
        }
        bool failed = false;
        if (!Deliver(piece, offset, buffer.data(), static_cast<size_t>(got), failed)) {
            if (failed) return FetchEnd::Failed;
            return stop.load() != 0 ? FetchEnd::Stopped : FetchEnd::Done;
        }
    }
}

void TransferState::Record(int sourceIndex, FetchEnd end) {
    Source& s = sources[static_cast<size_t>(sourceIndex)];
    --s.active;
    --connections;
    const Clock::time_point now = Clock::now();
    switch (end) {
        case FetchEnd::Done:
            s.failures = 0;
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
            [[fallthrough]];
        case FetchEnd::NotHeld:
            ++s.failures;
            s.retryAt = now + std::chrono::milliseconds(500 * std::min(s.failures, 10));
            if (s.failures >= (s.peer ? kPeerRefusalsBeforeDropped : kFailuresBeforeDropped))
                s.dropped = true;
            break;
        case FetchEnd::Failed:
            ++s.failures;
            s.retryAt = now + std::chrono::milliseconds(500 * s.failures);
            if (s.failures >= kFailuresBeforeDropped) s.dropped = true;
            break;
        case FetchEnd::WrongBytes:
            s.dropped = true;
            Logger::Instance().Log(kLogLevelInfo, "transfer: %s sent other bytes; dropped",
                                   s.url.c_str());
            break;
    }
}

void TransferState::Work() {
    while (stop.load() == 0) {
        int index = -1;
        std::list<Piece>::iterator piece;
        bool probe = false;
        Source source;
        {
            std::lock_guard<std::mutex> guard(lock);
            if (!TakeWork(index, piece, probe, false)) break;
            Source& s = sources[static_cast<size_t>(index)];
            ++s.active;
            ++connections;
            source = s;
            wake.notify_all();  // the coordinator may start the next connection
        }
        const FetchEnd end =
            source.ftp ? FetchFtp(source, piece, probe) : FetchHttp(source, piece, probe);
        std::lock_guard<std::mutex> guard(lock);
        if (probe) probing = false;
        // A connection that ended before its first measurement still tells its source's
        // speed.
        const double speed = piece->Speed(Clock::now(), 0);
        Source& owner = sources[static_cast<size_t>(index)];
        if (piece->rate <= 0 && speed > 0)
            owner.rate = owner.rate < 0 ? speed : 0.7 * owner.rate + 0.3 * speed;
        if (piece->end >= 0 && piece->pos >= piece->end) {
            pieces.erase(piece);
        } else if (total < 0) {
            pieces.erase(piece);  // nothing is known of the file: the next probe starts over
        } else {
            piece->owned = false;  // given back
        }
        Record(index, end);
        wake.notify_all();
    }
    std::lock_guard<std::mutex> guard(lock);
    --workersRunning;
    wake.notify_all();
}

bool TransferState::SpawnWorkerIfUseful() {
    // Only when every running worker is busy: one between two fetches takes the work itself.
    if (workersRunning != connections || workersRunning >= limits.connectionsInAll) return false;
    int index;
    std::list<Piece>::iterator piece;
    bool probe;
    if (!TakeWork(index, piece, probe, true)) return false;
    ++workersRunning;
    Worker w;
    w.done = std::make_shared<std::atomic<bool>>(false);
    w.thread = std::thread([this, done = w.done] {
        Work();
        done->store(true);
    });
    workers.push_back(std::move(w));
    return true;
}

void TransferState::JoinFinishedWorkers(bool all) {
    for (auto it = workers.begin(); it != workers.end();) {
        if (all || it->done->load()) {
            it->thread.join();
            it = workers.erase(it);
        } else {
            ++it;
        }
    }
}

void TransferState::SaveState() {
    FileDescription d;
    std::vector<Region> regions;
    {
        std::lock_guard<std::mutex> guard(lock);
        d = description;
        d.blockSize = blockSize;
        d.length = total >= 0 ? total : 0;
        if (total > 0) {
            const int64_t blocks = (total + blockSize - 1) / blockSize;
            auto held = [&](int64_t b) {
                const int64_t from = b * blockSize;
                return HeldLocked(from, std::min<int64_t>(blockSize, total - from));
            };
            for (int64_t b = 0; b < blocks;) {
                const bool done = held(b);
                int64_t e = b + 1;
                while (e < blocks && held(e) == done) ++e;
                Region r;
                r.start = static_cast<int32_t>(b);
                r.length = static_cast<int32_t>(e - b);
                r.position = done ? r.start + r.length : r.start;
                r.state = done ? RegionState::Confirmed : RegionState::Unscheduled;
                regions.push_back(r);
                b = e;
            }
        }
    }
    files->SaveDescription(d);
    files->SaveRegionMap(regions);
}

bool TransferState::Md5Matches() {
    std::string native;
    std::unique_ptr<platform::IFile> file;
    if (!platform::NativePath(files->DataPath(), native) ||
        platform::PosixFileSystem().Open(native, platform::FileOpenMode::kRead, file) != 0) {
        return false;
    }
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    if (!ctx || EVP_DigestInit_ex(ctx.get(), EVP_md5(), nullptr) != 1) return false;
    std::vector<char> buffer(1 << 20);
    for (uint64_t offset = 0;;) {
        size_t got = 0;
        if (file->ReadAt(offset, buffer.data(), buffer.size(), got) != 0) return false;
        if (got == 0) break;
        EVP_DigestUpdate(ctx.get(), buffer.data(), got);
        offset += got;
    }
    unsigned char digest[16];
    unsigned int size = 0;
    if (EVP_DigestFinal_ex(ctx.get(), digest, &size) != 1 || size != 16) return false;
    return LowerHex(digest, size) == LowerAscii(request.md5);
}

namespace {

// Learns a file's length from the answer to a request for its first byte.
class LengthSink : public platform::HttpTransferEvents {
  public:
    void OnResolving(const std::string&) override {}
    void OnConnecting() override {}
    void OnConnected() override {}
    void OnRedirect(long, const std::string&) override {}
    void OnContentRange(int64_t, int64_t, int64_t total) override { rangeTotal_ = total; }
    bool OnResponse(long status, int64_t contentLength) override {
        if (status == 206) length = rangeTotal_;
        if (status == 200) length = contentLength;
        return false;  // the headers are all that is wanted
    }
    bool OnBody(const char*, size_t) override { return false; }
    bool OnTick() override { return true; }

    int64_t length = -1;

  private:
    int64_t rangeTotal_ = -1;
};

}  // namespace

bool TransferState::ResumedLengthStillHolds() {
    Source first;
    int64_t expected;
    {
        std::lock_guard<std::mutex> guard(lock);
        if (sources.empty()) return true;
        first = sources.front();
        expected = total;
    }
    int64_t length = -1;
    if (first.ftp) {
        FtpTimeouts timeouts;
        timeouts.dataMs = limits.noDataSeconds * 1000;
        FtpSource ftp(first.url, timeouts);
        if (ftp.Connect(first.url) == 0) ftp.Probe(length);
    } else {
        platform::HttpRequest http = SourceRequest(first.url);
        http.rangeEnd = 0;
        LengthSink sink;
        platform::HttpGet(http, sink);
        length = sink.length;
    }
    // A source that does not answer now says nothing about the file: the ranged requests
    // check every answer against the length anyway.
    return length < 0 || length == expected;
}

void TransferState::Coordinate() {
    TransferEnd end = TransferEnd::Failed;
    if (resumed && !ResumedLengthStillHolds()) {
        Logger::Instance().Log(kLogLevelInfo, "transfer: %s changed length; starting afresh",
                               request.urls.front().c_str());
        files->Finish(false);
        auto fresh = std::make_unique<ResumeFiles>(request.target);
        std::lock_guard<std::mutex> guard(lock);
        files = std::move(fresh);  // the block server reads through it
        pieces.clear();
        total = -1;
        blockSize = kBlockSize;
        resumed = false;
    }
    if (!files->OpenData()) {
        Fail("the data file could not be opened");
        running = false;
        ended(end);
        return;
    }
    SaveState();
    const auto saveEvery =
        std::chrono::milliseconds(std::max<uint32_t>(limits.saveIntervalMs, 100));
    Clock::time_point lastSave = Clock::now();
    std::unique_lock<std::mutex> guard(lock);
    for (;;) {
        if (stop.load() != 0) {
            end = stop.load() == 1 ? TransferEnd::Paused : TransferEnd::Cancelled;
            break;
        }
        // Every byte is in; connections whose pieces were taken over may still be ending.
        if (total >= 0 && ReceivedLocked() == total) {
            end = TransferEnd::Completed;
            break;
        }
        // Peers cannot tell the length: while it is unknown, only the first sources count.
        const bool anyLeft = std::any_of(sources.begin(), sources.end(), [this](const Source& s) {
            return !s.dropped && (total >= 0 || !s.peer);
        });
        if (!anyLeft && workersRunning == 0) {
            if (lastError.empty()) lastError = "no source could deliver the file";
            end = TransferEnd::Failed;
            break;
        }
        // A stalled request is ended, so that its piece goes to a connection that moves.
        const Clock::time_point now = Clock::now();
        for (Piece& p : pieces) {
            if (p.owned && p.interrupt && p.Stalled(now)) p.interrupt->Interrupt();
        }
        while (SpawnWorkerIfUseful()) {
        }
        if (Clock::now() - lastSave >= saveEvery) {
            guard.unlock();
            SaveState();
            guard.lock();
            lastSave = Clock::now();
        }
        JoinFinishedWorkers(false);
        wake.wait_for(guard, std::chrono::milliseconds(100));
    }
    // Wind down: every connection ends before the files are touched.
    int expected = 0;
    stop.compare_exchange_strong(expected, 2);
    for (Piece& p : pieces) {
        if (p.interrupt) p.interrupt->Interrupt();
    }
    wake.wait(guard, [this] { return workersRunning == 0; });
    guard.unlock();
    JoinFinishedWorkers(true);
    if (end == TransferEnd::Completed) {
        files->CloseData();
        if (!request.md5.empty() && !Md5Matches()) {
            Fail("the file's MD5 is not the expected one");
            files->Finish(false);  // a wrong file must not be resumed either
            end = TransferEnd::Failed;
        } else if (!files->Finish(true)) {
            Fail("the file could not be put at its name");
            end = TransferEnd::Failed;
        } else {
            std::lock_guard<std::mutex> done(lock);
            finished = true;
        }
    } else {
        SaveState();
        files->CloseData();
    }
    running = false;
    ended(end);
}

MultiSourceTransfer::MultiSourceTransfer(TransferLimits limits) : state_(new State) {
    if (limits.connectionsPerSource < 1) limits.connectionsPerSource = 1;
    if (limits.connectionsInAll < 1) limits.connectionsInAll = 1;
    state_->limits = limits;
}

MultiSourceTransfer::~MultiSourceTransfer() {
    Cancel();
    Join();
}

bool MultiSourceTransfer::Start(TransferRequest request, std::function<void(TransferEnd)> ended) {
    State& s = *state_;
    if (s.running.load() || request.target.empty()) return false;
    Join();
    auto files = std::make_unique<ResumeFiles>(request.target);
    FileDescription saved;
    const bool haveSaved = files->LoadDescription(saved);
    if (request.urls.empty() && haveSaved) {
        request.urls.push_back(saved.url);
        if (request.referer.empty()) request.referer = saved.referer;
        if (request.md5.empty()) request.md5 = saved.md5;
        request.resume = true;
    }
    if (request.urls.empty()) return false;

    std::lock_guard<std::mutex> guard(s.lock);
    s.sources.clear();
    s.pieces.clear();
    s.total = -1;
    s.blockSize = kBlockSize;
    s.probing = false;
    s.resumed = false;
    s.connections = s.workersRunning = 0;
    s.lastError.clear();
    s.finished = false;
    s.stop = 0;
    std::vector<Region> regions;
    if (request.resume && haveSaved && saved.url == request.urls.front() && saved.length > 0 &&
        files->LoadRegionMap(saved, regions)) {
        s.total = saved.length;
        s.blockSize = saved.blockSize;
        s.resumed = true;
        const int64_t blocks = (s.total + s.blockSize - 1) / s.blockSize;
        std::vector<bool> held(static_cast<size_t>(blocks), false);
        for (const Region& r : regions) {
            if (!r.completed()) continue;
            for (int64_t b = r.start; b < int64_t{r.start} + r.length && b < blocks; ++b)
                held[static_cast<size_t>(b)] = true;
        }
        for (int64_t b = 0; b < blocks;) {
            if (held[static_cast<size_t>(b)]) {
                ++b;
                continue;
            }
            int64_t e = b;
            while (e < blocks && !held[static_cast<size_t>(e)]) ++e;
            s.pieces.push_back({b * s.blockSize, std::min(e * s.blockSize, s.total), false});
            b = e;
        }
    } else {
        // Another file's state, or none: what an earlier task left must not survive into
        // this one (a longer old data file would leave its tail behind).
        files->Finish(false);
        files = std::make_unique<ResumeFiles>(request.target);
    }
    for (const std::string& url : request.urls) {
        Source src;
        src.url = url;
        src.ftp = StartsWithNoCase(url, "ftp://");
        if (!src.ftp && !StartsWithNoCase(url, "http://") && !StartsWithNoCase(url, "https://"))
            continue;
        src.cap = s.limits.connectionsPerSource;
        s.sources.push_back(src);
    }
    s.description = FileDescription{};
    s.description.blockSize = s.blockSize;
    s.description.url = request.urls.front();
    s.description.md5 = request.md5;
    s.description.referer = request.referer;
    s.description.downloadMode = request.downloadMode;
    s.files = std::move(files);
    s.request = std::move(request);
    s.ended = std::move(ended);
    s.running = true;
    s.coordinator = std::thread([&s] { s.Coordinate(); });
    return true;
}

void MultiSourceTransfer::AddSources(const std::vector<std::string>& urls) {
    State& s = *state_;
    std::lock_guard<std::mutex> guard(s.lock);
    for (const std::string& url : urls) {
        const bool ftp = StartsWithNoCase(url, "ftp://");
        if (!ftp && !StartsWithNoCase(url, "http://") && !StartsWithNoCase(url, "https://"))
            continue;
        if (std::any_of(s.sources.begin(), s.sources.end(),
                        [&](const Source& known) { return known.url == url; }))
            continue;
        Source src;
        src.url = url;
        src.ftp = ftp;
        src.peer = true;
        src.cap = s.limits.connectionsPerSource;
        s.sources.push_back(src);
    }
    s.wake.notify_all();
}

void MultiSourceTransfer::Pause() {
    int expected = 0;
    state_->stop.compare_exchange_strong(expected, 1);
    state_->wake.notify_all();
}

void MultiSourceTransfer::Cancel() {
    int expected = 0;
    state_->stop.compare_exchange_strong(expected, 2);
    state_->wake.notify_all();
}

void MultiSourceTransfer::Join() {
    if (state_->coordinator.joinable() &&
        state_->coordinator.get_id() != std::this_thread::get_id()) {
        state_->coordinator.join();
    }
}

TransferStatus MultiSourceTransfer::status() const {
    const State& s = *state_;
    std::lock_guard<std::mutex> guard(s.lock);
    TransferStatus st;
    st.total = std::max<int64_t>(s.total, 0);
    st.received = s.finished ? st.total : s.ReceivedLocked();
    st.sourcesInUse = static_cast<int>(std::count_if(s.sources.begin(), s.sources.end(),
                                                     [](const Source& x) { return x.active > 0; }));
    st.sourcesKnown = static_cast<int>(s.sources.size());
    st.url = s.request.urls.empty() ? std::string() : s.request.urls.front();
    return st;
}

std::string MultiSourceTransfer::lastError() const {
    std::lock_guard<std::mutex> guard(state_->lock);
    return state_->lastError;
}

bool MultiSourceTransfer::ReadHeld(int64_t offset, size_t size, char* out) const {
    const State& s = *state_;
    std::string path;
    {
        std::lock_guard<std::mutex> guard(s.lock);
        if (!s.files) return false;
        if (s.finished) {
            if (offset < 0 || size == 0 || offset + static_cast<int64_t>(size) > s.total)
                return false;
            path = s.request.target;
        } else {
            if (!s.HeldLocked(offset, static_cast<int64_t>(size))) return false;
            path = s.files->DataPath();
        }
    }
    std::string native;
    std::unique_ptr<platform::IFile> file;
    if (!platform::NativePath(path, native) ||
        platform::PosixFileSystem().Open(native, platform::FileOpenMode::kRead, file) != 0) {
        return false;
    }
    size_t done = 0;
    while (done < size) {
        size_t got = 0;
        if (file->ReadAt(static_cast<uint64_t>(offset) + done, out + done, size - done, got) != 0 ||
            got == 0) {
            return false;
        }
        done += got;
    }
    return true;
}

}  // namespace engine
