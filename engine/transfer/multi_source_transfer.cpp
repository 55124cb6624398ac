// The transfer's threads: a coordinator that prepares the transfer (resume check, block
// list, held blocks), starts connections while the scheduler has work, ends the overdue
// ones, saves the region map and checks the finished file; and one worker thread per
// connection, which fetches what the scheduler assigns and keeps what passes.
#include "engine/multi_source_transfer.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <optional>
#include <random>
#include <thread>
#include <unordered_map>

#include "engine/logger.h"
#include "engine/resume_state.h"
#include "engine/source_line.h"
#include "engine/transfer/block_list.h"
#include "engine/transfer/digest_blame.h"
#include "engine/transfer/fetcher.h"
#include "engine/transfer/scheduler.h"
#include "platform/ascii_text.h"
#include "platform/digest.h"
#include "platform/file_system.h"
#include "platform/hex_text.h"
#include "platform/native_path.h"

namespace engine {

using transfer::Assignment;
using transfer::ByteRange;
using transfer::DigestBlame;
using transfer::Event;
using transfer::FetchEnd;
using transfer::Fetcher;
using transfer::FetchOrder;
using transfer::FetchResult;
using transfer::FetchSink;
using transfer::PieceMap;
using transfer::Scheduler;
using transfer::SourceKind;
using transfer::TransferEnv;
using transfer::Trust;

namespace {

constexpr int32_t kBlockSize = kCheckedBlockSize;  // the unit of the region map

bool StartsWithNoCase(const std::string& text, const char* prefix) {
    for (size_t i = 0; prefix[i] != '\0'; ++i) {
        if (i >= text.size() || std::tolower(static_cast<unsigned char>(text[i])) != prefix[i])
            return false;
    }
    return true;
}

// The kind of source a URL names, none for a scheme the transfer does not speak.
std::optional<SourceKind> KindOf(const std::string& url, bool peer) {
    if (url.empty() || url.size() > kMaxSourceUrl) return std::nullopt;
    if (StartsWithNoCase(url, "ftp://")) {
        if (peer) return std::nullopt;
        return SourceKind::Ftp;
    }
    if (StartsWithNoCase(url, "http://") || StartsWithNoCase(url, "https://"))
        return peer ? SourceKind::Peer : SourceKind::Http;
    return std::nullopt;
}

// FILE_URL + ".blocks", before any query or fragment.
std::string SiblingBlockListUrl(const std::string& url) {
    const size_t cut = url.find_first_of("?#");
    if (cut == std::string::npos) return url + ".blocks";
    return url.substr(0, cut) + ".blocks" + url.substr(cut);
}

std::unique_ptr<platform::IFile> OpenForReading(const std::string& gbkPath) {
    std::string native;
    std::unique_ptr<platform::IFile> file;
    if (!platform::NativePath(gbkPath, native) ||
        platform::PosixFileSystem().Open(native, platform::FileOpenMode::kRead, file) != 0) {
        return nullptr;
    }
    return file;
}

bool ReadExactly(platform::IFile& file, int64_t offset, char* out, size_t size) {
    size_t done = 0;
    while (done < size) {
        size_t got = 0;
        if (file.ReadAt(static_cast<uint64_t>(offset) + done, out + done, size - done, got) != 0 ||
            got == 0) {
            return false;
        }
        done += got;
    }
    return true;
}

// Collects a small file (a block list) whole, up to a cap.
class CollectSink : public FetchSink {
  public:
    explicit CollectSink(size_t cap) : cap_(cap) {}
    bool OnLength(int64_t length) override { return length <= static_cast<int64_t>(cap_); }
    Take OnData(int64_t, const char* data, size_t size) override {
        if (size > cap_ - bytes.size()) return Take::Failed;
        bytes.append(data, size);
        return Take::More;
    }
    std::string bytes;

  private:
    size_t cap_;
};

const char* FailureText(TransferFailure failure) {
    switch (failure) {
        case TransferFailure::None:
            return "none";
        case TransferFailure::NoSource:
            return "no source left";
        case TransferFailure::DigestMismatch:
            return "digest mismatch";
        case TransferFailure::SizeLimit:
            return "size limit";
        case TransferFailure::BlockList:
            return "block list";
        case TransferFailure::DataFile:
            return "data file";
    }
    return "?";
}

}  // namespace

// Everything a transfer shares between its threads.
struct TransferState {
    TransferLimits limits;
    TransferEnv* env = nullptr;
    mutable std::mutex lock;
    std::condition_variable wake;
    TransferRequest request;
    std::unique_ptr<ResumeFiles> files;  // replaced only before the first connection
    FileDescription description;
    std::function<void(TransferEnd)> ended;
    // Set by the coordinator before the first connection, read-only afterwards.
    std::optional<BlockList> blocks;

    // Guarded by lock.
    std::unique_ptr<Scheduler> scheduler;
    std::unordered_map<int, platform::SocketInterrupt*> interrupts;  // of running fetches
    std::shared_ptr<platform::SocketInterrupt> startInterrupt;       // of the start-up steps
    std::shared_ptr<platform::SocketInterrupt> heldInterrupt;        // of the held maps
    bool resumed = false;
    int workersRunning = 0;
    TransferFailure failure = TransferFailure::None;
    std::string lastError;
    bool finished = false;  // the target holds the file
    bool servable = false;  // and it passed a check
    int64_t sizeLimit = kDefaultSizeLimit;
    size_t lookupMirrors = 0;
    size_t lookupPeers = 0;
    int64_t lookupLength = -1;
    std::string lookupMd5;
    bool lookupDisagrees = false;
    bool listSettled = false;  // the block list was looked for
    DigestBlame blame;
    bool inRound = false;  // fetching a suspect's bytes again
    int roundSuspect = -1;
    bool roundFromCaller = false;  // only the caller's sources fetch them
    std::atomic<bool> roundChanged{false};

    std::atomic<int> stop{0};  // 0 run, 1 pause, 2 cancel
    std::atomic<bool> running{false};
    std::thread coordinator;
    std::thread heldWatcher;  // the coordinator's
    struct Worker {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> done;
    };
    std::vector<Worker> workers;  // the coordinator's

    void Coordinate();
    void WatchPeers();
    bool Prepare();
    bool ResumedLengthStillHolds();
    void StartAfresh();
    bool LoadBlockList();
    bool FetchSmall(const std::string& url, std::string& bytes, bool& absent);
    bool VerifyHeldBlocks();
    bool SpawnWorkerIfUseful();  // under lock
    void Work();
    void JoinFinishedWorkers(bool all);
    void SaveState();
    enum class Verdict { Passed, Mismatch, Stopped };
    Verdict CheckWholeFile();
    bool Md5Of(std::string& hex);
    bool BlameLocked();
    void SettleLookupLocked();
    void DisagreeLocked(const char* why);
    bool LearnLength(int64_t length);
    void FailLocked(TransferFailure why, const std::string& text);
    void Fail(TransferFailure why, const std::string& text) {
        std::lock_guard<std::mutex> guard(lock);
        FailLocked(why, text);
    }
    void InterruptAllLocked() {
        for (auto& [connection, interrupt] : interrupts) interrupt->Interrupt();
        if (startInterrupt) startInterrupt->Interrupt();
        if (heldInterrupt) heldInterrupt->Interrupt();
    }
    bool Stopping() const { return stop.load() != 0; }
};

struct MultiSourceTransfer::State : TransferState {};

namespace {

// Where one connection's bytes go: written at their offset, or, when a block list checks
// them, gathered a block at a time and written only once the block passed its hash.
class ConnectionSink : public FetchSink {
  public:
    ConnectionSink(TransferState& s, const Assignment& a) : s_(s), a_(a) {}
    bool OnLength(int64_t length) override;
    Take OnData(int64_t offset, const char* data, size_t size) override {
        return s_.blocks ? Blocks(offset, data, size) : Plain(offset, data, size);
    }
    int64_t kept() const { return kept_; }

  private:
    Take Plain(int64_t offset, const char* data, size_t size);
    Take Blocks(int64_t offset, const char* data, size_t size);
    Take Write(int64_t offset, const char* data, int64_t size, bool hashed);
    void Compare(int64_t offset, const char* data, int64_t size);

    TransferState& s_;
    const Assignment a_;
    int64_t kept_ = 0;
    std::string block_;
    int64_t blockStart_ = -1;
    int64_t blockEnd_ = -1;
    Sha256 hash_;
    std::unique_ptr<platform::IFile> readBack_;
};

bool ConnectionSink::OnLength(int64_t length) { return s_.LearnLength(length); }

FetchSink::Take ConnectionSink::Plain(int64_t offset, const char* data, size_t size) {
    int64_t n;
    {
        std::lock_guard<std::mutex> guard(s_.lock);
        if (s_.Stopping() || s_.failure != TransferFailure::None) return Take::Failed;
        s_.scheduler->Record(Event::Arrived(a_.connection, static_cast<int64_t>(size)),
                             s_.env->Now());
        n = s_.scheduler->Reserve(a_.connection, offset, static_cast<int64_t>(size));
        // A source that tells no length is written only up to the limit.
        if (s_.scheduler->length() < 0 && offset + n > s_.sizeLimit) {
            s_.FailLocked(TransferFailure::SizeLimit, s_.scheduler->source(a_.source).url +
                                                          " sent more than " +
                                                          std::to_string(s_.sizeLimit) + " bytes");
            return Take::Failed;
        }
    }
    if (n > 0 && a_.recheck) Compare(offset, data, n);
    const Take took = n > 0 ? Write(offset, data, n, false) : Take::Enough;
    if (took != Take::More) return took;
    return n == static_cast<int64_t>(size) ? Take::More : Take::Enough;
}

FetchSink::Take ConnectionSink::Blocks(int64_t offset, const char* data, size_t size) {
    const BlockList& list = *s_.blocks;
    while (size > 0) {
        if (blockStart_ < 0) {
            // Pieces begin on block boundaries when blocks are checked.
            if (offset % list.blockSize != 0 || offset >= list.length) return Take::Failed;
            blockStart_ = offset;
            blockEnd_ = std::min(list.length, offset + list.blockSize);
            block_.clear();
        }
        const size_t take =
            static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(size), blockEnd_ - offset));
        block_.append(data, take);
        hash_.Update(data, take);
        {
            std::lock_guard<std::mutex> guard(s_.lock);
            if (s_.Stopping() || s_.failure != TransferFailure::None) return Take::Failed;
            s_.scheduler->Record(Event::Arrived(a_.connection, static_cast<int64_t>(take)),
                                 s_.env->Now());
        }
        offset += static_cast<int64_t>(take);
        data += take;
        size -= take;
        if (offset < blockEnd_) break;
        const int64_t index = blockStart_ / list.blockSize;
        const int64_t from = blockStart_, to = blockEnd_;
        blockStart_ = -1;
        if (hash_.Finish() != list.blocks[static_cast<size_t>(index)]) {
            std::lock_guard<std::mutex> guard(s_.lock);
            const std::string url = s_.scheduler->source(a_.source).url;
            Logger::Instance().Log(kLogLevelInfo,
                                   "transfer: %s sent a wrong block at %lld; dropped", url.c_str(),
                                   static_cast<long long>(from));
            s_.scheduler->Record(Event::WrongBlock(a_.connection, from, to), s_.env->Now());
            return Take::Wrong;
        }
        int64_t n;
        {
            std::lock_guard<std::mutex> guard(s_.lock);
            n = s_.scheduler->Reserve(a_.connection, from, to - from);
        }
        if (n < to - from) return Take::Enough;  // the piece was cut before this block
        const Take took = Write(from, block_.data(), to - from, true);
        if (took != Take::More) return took;
    }
    return Take::More;
}

FetchSink::Take ConnectionSink::Write(int64_t offset, const char* data, int64_t size, bool hashed) {
    if (s_.files->WriteData(offset, data, static_cast<size_t>(size)) != size) {
        s_.Fail(TransferFailure::DataFile, "the data file could not be written");
        return Take::Failed;
    }
    std::lock_guard<std::mutex> guard(s_.lock);
    s_.scheduler->Record(Event::Kept(a_.connection, offset, offset + size, hashed), s_.env->Now());
    kept_ += size;
    return s_.scheduler->WorkLeft(a_.connection) == 0 ? Take::Enough : Take::More;
}

// Bytes fetched again from another source than their first writer: a round that changes
// none needs no digest to clear its suspect.
void ConnectionSink::Compare(int64_t offset, const char* data, int64_t size) {
    if (s_.roundChanged.load()) return;
    if (!readBack_) readBack_ = OpenForReading(s_.files->DataPath());
    std::string old(static_cast<size_t>(size), '\0');
    if (!readBack_ || !ReadExactly(*readBack_, offset, old.data(), old.size()) ||
        std::memcmp(old.data(), data, old.size()) != 0) {
        s_.roundChanged = true;
    }
}

}  // namespace

bool TransferState::LearnLength(int64_t length) {
    std::lock_guard<std::mutex> guard(lock);
    if (length > sizeLimit) {
        FailLocked(TransferFailure::SizeLimit, "the file has " + std::to_string(length) +
                                                   " bytes, more than the limit of " +
                                                   std::to_string(sizeLimit));
        return false;
    }
    if (!scheduler->TellLength(length)) return false;  // another length than the file's
    wake.notify_all();
    return true;
}

void TransferState::FailLocked(TransferFailure why, const std::string& text) {
    if (failure == TransferFailure::None) failure = why;
    lastError = text;
    Logger::Instance().Log(kLogLevelInfo, "transfer: %s (%s)", text.c_str(), FailureText(why));
    wake.notify_all();
}

void TransferState::Work() {
    for (;;) {
        Assignment a;
        FetchOrder order;
        SourceKind kind;
        platform::SocketInterrupt interrupt;
        {
            std::lock_guard<std::mutex> guard(lock);
            if (Stopping() || failure != TransferFailure::None) break;
            const std::optional<Assignment> picked = scheduler->Pick(env->Now());
            if (!picked) break;
            a = *picked;
            const transfer::SourceRecord& source = scheduler->source(a.source);
            order.url = source.url;
            order.from = a.from;
            order.end = a.end;
            order.knownLength = scheduler->length();
            order.referer = request.referer;
            order.noDataSeconds = limits.noDataSeconds;
            kind = source.kind;
            interrupts[a.connection] = &interrupt;
            wake.notify_all();  // the coordinator may start the next connection
        }
        ConnectionSink sink(*this, a);
        const std::unique_ptr<Fetcher> fetcher = env->NewFetcher(kind);
        const FetchResult result = fetcher->Fetch(order, sink, interrupt);
        std::lock_guard<std::mutex> guard(lock);
        interrupts.erase(a.connection);
        FetchEnd end = result.end;
        if (Stopping()) {
            end = FetchEnd::Stopped;
        } else if (end == FetchEnd::Done && sink.kept() == 0 && !a.probe() &&
                   scheduler->WorkLeft(a.connection) > 0) {
            end = FetchEnd::NotHeld;  // answered, but nothing of it could be kept
        }
        if (!result.detail.empty() && (end == FetchEnd::Failed || end == FetchEnd::WrongBytes)) {
            lastError = result.detail;
            if (end == FetchEnd::WrongBytes)
                Logger::Instance().Log(kLogLevelInfo, "transfer: %s; dropped",
                                       result.detail.c_str());
        }
        scheduler->Record(Event::Ended(a.connection, end), env->Now());
        wake.notify_all();
    }
    std::lock_guard<std::mutex> guard(lock);
    --workersRunning;
    wake.notify_all();
}

bool TransferState::SpawnWorkerIfUseful() {
    // Only when every running worker is busy: one between two fetches takes the work itself.
    if (workersRunning != scheduler->connections() || workersRunning >= limits.connectionsInAll ||
        !scheduler->HasWork(env->Now())) {
        return false;
    }
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
        d.blockSize = kBlockSize;
        d.length = std::max<int64_t>(scheduler->length(), 0);
        // Only vouched-for bytes count as complete: those that passed their block hash,
        // or, without a block list, those the caller's own sources sent. A lookup's bytes
        // that only the whole file's digest can check are fetched again after a restart.
        const bool checked = blocks.has_value();
        const Scheduler& sched = *scheduler;
        regions = sched.held().ToRegions(kBlockSize, [&](const PieceMap::Span& span) {
            if (checked) return span.hashed;
            return span.writer == PieceMap::kEarlierRun ||
                   sched.source(span.writer).trust == Trust::Caller;
        });
    }
    files->SaveDescription(d);
    files->SaveRegionMap(regions);
}

bool TransferState::Md5Of(std::string& hex) {
    std::unique_ptr<platform::IFile> file = OpenForReading(files->DataPath());
    if (!file) return false;
    platform::Md5Stream md5;
    std::vector<char> buffer(1 << 20);
    for (uint64_t offset = 0;;) {
        if (Stopping()) return false;
        size_t got = 0;
        if (file->ReadAt(offset, buffer.data(), buffer.size(), got) != 0) return false;
        if (got == 0) break;
        md5.Update(buffer.data(), got);
        offset += got;
    }
    const platform::Md5Digest digest = md5.Finish();
    hex = platform::LowerHex(digest.data(), digest.size());
    return true;
}

TransferState::Verdict TransferState::CheckWholeFile() {
    std::string expected, lookup;
    {
        std::lock_guard<std::mutex> guard(lock);
        expected = platform::LowerAscii(request.md5);
        // A lookup's digest is asked only when nothing trusted checks the file: it may
        // reveal a mismatch, but it decides nothing.
        if (expected.empty() && !blocks) lookup = platform::LowerAscii(lookupMd5);
    }
    if (expected.empty() && lookup.empty()) return Verdict::Passed;
    std::string actual;
    if (!Md5Of(actual)) {
        if (Stopping()) return Verdict::Stopped;
        Fail(TransferFailure::DataFile, "the data file could not be read back");
        return Verdict::Mismatch;
    }
    if (expected.empty()) {
        if (actual != lookup)
            Logger::Instance().Log(kLogLevelInfo,
                                   "transfer: the lookup's MD5 %s is not the file's %s; the "
                                   "file came from the caller's sources only",
                                   lookup.c_str(), actual.c_str());
        return Verdict::Passed;
    }
    return actual == expected ? Verdict::Passed : Verdict::Mismatch;
}

// The whole file failed its MD5: the next suspect's bytes are fetched again from the
// others. False (failure set) when there is nobody left to suspect or to ask.
bool TransferState::BlameLocked() {
    if (blocks) {
        FailLocked(TransferFailure::DigestMismatch,
                   "the file's MD5 is not the expected one, though every block matched its list");
        return false;
    }
    const Scheduler& sched = *scheduler;
    const auto rank = [&sched](int writer) {
        if (writer == PieceMap::kEarlierRun) return 1;
        if (sched.source(writer).trust == Trust::Lookup) return 0;
        return writer == 0 ? 3 : 2;  // the caller's first URL last
    };
    const auto suspect = blame.NextSuspect(scheduler->held().Writers(), rank);
    const auto name = [&sched](int writer) {
        return writer == PieceMap::kEarlierRun ? std::string("an earlier run")
                                               : sched.source(writer).url;
    };
    if (!suspect) {
        FailLocked(TransferFailure::DigestMismatch,
                   "the file's MD5 is not the expected one and no source could be blamed");
        return false;
    }
    Logger::Instance().Log(kLogLevelInfo,
                           "transfer: the file's MD5 is not the expected one; fetching what %s "
                           "sent again from the other sources",
                           name(suspect->writer).c_str());
    // The caller's sources are trusted: bytes of a lookup's source that differ from theirs
    // are wrong. Only when none of them is left do the others fetch.
    bool callers = false;
    for (int i = 0; i < scheduler->sourceCount(); ++i) {
        const transfer::SourceRecord& s = scheduler->source(i);
        callers = callers || (i != suspect->writer && s.trust == Trust::Caller && !s.dropped);
    }
    scheduler->Refetch(suspect->writer, callers);
    roundSuspect = suspect->writer;
    roundFromCaller = callers && suspect->writer >= 0 &&
                      scheduler->source(suspect->writer).trust == Trust::Lookup;
    if (!scheduler->AnySourceLeft()) {
        // Nobody else to ask: with one writer, the file is what it sent.
        if (suspect->certain) scheduler->Drop(suspect->writer, true);
        FailLocked(TransferFailure::DigestMismatch,
                   "the file's MD5 is not the expected one; no other source to ask than " +
                       name(suspect->writer));
        return false;
    }
    inRound = true;
    roundChanged = false;
    return true;
}

void TransferState::SettleLookupLocked() {
    scheduler->SetLookupSourcesAllowed(listSettled && !lookupDisagrees &&
                                       (blocks.has_value() || !request.md5.empty()));
}

void TransferState::DisagreeLocked(const char* why) {
    if (lookupDisagrees) return;
    lookupDisagrees = true;
    Logger::Instance().Log(kLogLevelInfo,
                           "transfer: the lookup's %s is not the file's; its "
                           "sources are not used",
                           why);
    for (int i = 0; i < scheduler->sourceCount(); ++i) {
        if (scheduler->source(i).trust == Trust::Lookup) scheduler->Drop(i, false);
    }
    SettleLookupLocked();
}

bool TransferState::FetchSmall(const std::string& url, std::string& bytes, bool& absent) {
    absent = false;
    const std::optional<SourceKind> kind = KindOf(url, false);
    if (!kind) return false;
    FetchOrder order;
    order.url = url;
    order.referer = request.referer;
    order.noDataSeconds = limits.noDataSeconds;
    std::shared_ptr<platform::SocketInterrupt> interrupt;
    {
        std::lock_guard<std::mutex> guard(lock);
        interrupt = startInterrupt;
    }
    CollectSink sink(kMaxBlockListBytes);
    const FetchResult result = env->NewFetcher(*kind)->Fetch(order, sink, *interrupt);
    absent = result.end == FetchEnd::NotHeld;
    bytes = std::move(sink.bytes);
    return result.end == FetchEnd::Done;
}

bool TransferState::LoadBlockList() {
    std::string bytes, where;
    bool required = !request.blockListSha256.empty(), present = false;
    if (!request.blockListFile.empty()) {
        where = request.blockListFile;
        required = true;
        std::unique_ptr<platform::IFile> file = OpenForReading(where);
        uint64_t size = 0;
        if (file && file->GetSize(size) == 0 && size <= kMaxBlockListBytes) {
            bytes.resize(static_cast<size_t>(size));
            present = ReadExactly(*file, 0, bytes.data(), bytes.size());
        }
    } else if (!request.blockListUrl.empty() || request.siblingBlockList) {
        required = required || !request.blockListUrl.empty();
        where = request.blockListUrl.empty() ? SiblingBlockListUrl(request.urls.front())
                                             : request.blockListUrl;
        bool absent = false;
        present = FetchSmall(where, bytes, absent);
        if (Stopping()) return true;  // the loop sees the stop
        if (!present && !absent)
            Logger::Instance().Log(kLogLevelInfo, "transfer: %s could not be fetched",
                                   where.c_str());
    }
    std::optional<BlockList> list;
    std::string why = "could not be had";
    if (present) {
        list = ParseBlockList(bytes);
        why = "is not a block list";
        Sha256Digest expected{};
        if (list && !request.blockListSha256.empty() &&
            (!ParseSha256Hex(request.blockListSha256, expected) || Sha256Of(bytes) != expected)) {
            list.reset();
            why = "does not match its SHA-256";
        }
    }
    std::lock_guard<std::mutex> guard(lock);
    listSettled = true;
    if (!list) {
        if (required) {
            FailLocked(TransferFailure::BlockList, "the block list " + where + " " + why);
            return false;
        }
        if (present)
            Logger::Instance().Log(kLogLevelInfo, "transfer: %s %s; not used", where.c_str(),
                                   why.c_str());
        SettleLookupLocked();
        return true;
    }
    if (list->length > sizeLimit) {
        FailLocked(TransferFailure::SizeLimit, "the block list describes " +
                                                   std::to_string(list->length) +
                                                   " bytes, more than the limit");
        return false;
    }
    blocks = std::move(list);
    Logger::Instance().Log(kLogLevelInfo, "transfer: every block is checked against %s",
                           where.c_str());
    return true;
}

bool TransferState::ResumedLengthStillHolds() {
    FetchOrder order;
    std::shared_ptr<platform::SocketInterrupt> interrupt;
    int64_t expected;
    SourceKind kind;
    {
        std::lock_guard<std::mutex> guard(lock);
        if (scheduler->sourceCount() == 0) return true;
        order.url = scheduler->source(0).url;
        kind = scheduler->source(0).kind;
        expected = scheduler->length();
        interrupt = startInterrupt;
    }
    order.referer = request.referer;
    order.noDataSeconds = limits.noDataSeconds;
    const int64_t length = env->NewFetcher(kind)->Length(order, *interrupt);
    // A source that does not answer now says nothing about the file: the ranged requests
    // check every answer against the length anyway.
    return length < 0 || length == expected;
}

void TransferState::StartAfresh() {
    files->Finish(false);
    auto fresh = std::make_unique<ResumeFiles>(request.target);
    std::lock_guard<std::mutex> guard(lock);
    files = std::move(fresh);  // the block server reads through it
    scheduler->Forget();
    resumed = false;
}

// Asks the peers for their held maps when they are due, one after the other: the scheduler
// gives a peer work only for what its map shows.
void TransferState::WatchPeers() {
    std::unique_lock<std::mutex> guard(lock);
    while (!Stopping() && failure == TransferFailure::None) {
        const std::vector<int> due = scheduler->PeersToAsk(env->Now());
        for (int source : due) {
            if (Stopping()) break;
            FetchOrder order;
            order.url = scheduler->source(source).url;
            order.referer = request.referer;
            order.noDataSeconds = limits.noDataSeconds;
            const std::shared_ptr<platform::SocketInterrupt> interrupt = heldInterrupt;
            guard.unlock();
            const std::optional<HeldMap> map =
                env->NewFetcher(SourceKind::Peer)->Held(order, *interrupt);
            guard.lock();
            if (Stopping()) break;
            if (map) {
                scheduler->TellHeld(source, map->length, map->ranges, env->Now());
            } else {
                scheduler->HeldUnknown(source, env->Now());
            }
            wake.notify_all();
        }
        wake.wait_for(guard, std::chrono::milliseconds(250));
    }
}

// Re-hashes the blocks a resumed state holds: only those that still match their list stay.
bool TransferState::VerifyHeldBlocks() {
    PieceMap held;
    {
        std::lock_guard<std::mutex> guard(lock);
        held = scheduler->held();
    }
    const BlockList& list = *blocks;
    PieceMap checked(list.length);
    std::unique_ptr<platform::IFile> file = OpenForReading(files->DataPath());
    std::string buffer(static_cast<size_t>(list.blockSize), '\0');
    for (int64_t b = 0; file && b < list.BlockCount(); ++b) {
        if (Stopping()) return false;
        const int64_t from = list.BlockStart(b), size = list.BlockBytes(b);
        if (!held.Held(from, from + size)) continue;
        if (ReadExactly(*file, from, buffer.data(), static_cast<size_t>(size)) &&
            Sha256Of(std::string_view(buffer.data(), static_cast<size_t>(size))) ==
                list.blocks[static_cast<size_t>(b)]) {
            checked.Add(from, from + size, PieceMap::kEarlierRun, true);
        }
    }
    std::lock_guard<std::mutex> guard(lock);
    scheduler->Resume(std::move(checked));
    return true;
}

bool TransferState::Prepare() {
    if (resumed && !ResumedLengthStillHolds() && !Stopping()) {
        Logger::Instance().Log(kLogLevelInfo, "transfer: %s changed length; starting afresh",
                               request.urls.front().c_str());
        StartAfresh();
    }
    if (Stopping()) return true;
    if (!LoadBlockList()) return false;
    if (Stopping()) return true;
    if (blocks) {
        bool otherLength;
        {
            std::lock_guard<std::mutex> guard(lock);
            otherLength = scheduler->length() >= 0 && scheduler->length() != blocks->length;
        }
        // The state describes another version of the file than the list.
        if (otherLength) StartAfresh();
        std::lock_guard<std::mutex> guard(lock);
        scheduler->SetWholeBlocks(true);
        scheduler->TellLength(blocks->length);
        if (lookupLength >= 0 && lookupLength != blocks->length) DisagreeLocked("length");
        SettleLookupLocked();
    }
    if (!files->OpenData()) {
        Fail(TransferFailure::DataFile, "the data file could not be opened");
        return false;
    }
    bool verify;
    {
        std::lock_guard<std::mutex> guard(lock);
        verify = blocks && resumed;
    }
    if (verify) VerifyHeldBlocks();
    return true;
}

void TransferState::Coordinate() {
    TransferEnd end = TransferEnd::Failed;
    if (!Prepare()) {
        files->CloseData();
        running = false;
        ended(end);
        return;
    }
    SaveState();
    heldWatcher = std::thread([this] { WatchPeers(); });
    const auto saveEvery =
        std::chrono::milliseconds(std::max<uint32_t>(limits.saveIntervalMs, 100));
    auto lastSave = std::chrono::steady_clock::now();
    std::unique_lock<std::mutex> guard(lock);
    for (;;) {
        if (Stopping()) {
            end = stop.load() == 1 ? TransferEnd::Paused : TransferEnd::Cancelled;
            break;
        }
        if (failure != TransferFailure::None) break;
        if (!lookupDisagrees && lookupLength >= 0 && scheduler->length() >= 0 &&
            lookupLength != scheduler->length()) {
            DisagreeLocked("length");
        }
        if (scheduler->Complete()) {
            // Every byte is in; connections whose pieces were taken over may still be
            // ending. The file is checked once they have.
            InterruptAllLocked();
            wake.wait(guard, [this] { return workersRunning == 0; });
            if (inRound && roundChanged.load() && roundFromCaller) {
                // A lookup's source sent other bytes than the caller's sources.
                scheduler->Drop(roundSuspect, true);
                Logger::Instance().Log(kLogLevelInfo, "transfer: %s sent wrong bytes; dropped",
                                       scheduler->source(roundSuspect).url.c_str());
            }
            guard.unlock();
            JoinFinishedWorkers(true);
            Verdict verdict;
            if (inRound && !roundChanged.load()) {
                verdict = Verdict::Mismatch;  // the suspect's bytes came back the same
            } else {
                verdict = CheckWholeFile();
            }
            guard.lock();
            if (verdict == Verdict::Stopped || Stopping()) continue;
            if (failure != TransferFailure::None) break;
            if (verdict == Verdict::Passed) {
                if (const std::optional<int> wrong = blame.Passed()) {
                    scheduler->Drop(*wrong, true);
                    Logger::Instance().Log(kLogLevelInfo, "transfer: %s sent wrong bytes; dropped",
                                           scheduler->source(*wrong).url.c_str());
                }
                end = TransferEnd::Completed;
                break;
            }
            if (!BlameLocked()) break;
            continue;
        }
        if (!scheduler->AnySourceLeft() && workersRunning == 0) {
            FailLocked(TransferFailure::NoSource, lastError.empty()
                                                      ? "no source could deliver the file"
                                                      : lastError + "; no source left");
            break;
        }
        // Stalled requests end at once, so that their pieces go to connections that move.
        for (int connection : scheduler->Overdue(env->Now())) {
            const auto found = interrupts.find(connection);
            if (found != interrupts.end()) found->second->Interrupt();
        }
        while (SpawnWorkerIfUseful()) {
        }
        if (std::chrono::steady_clock::now() - lastSave >= saveEvery) {
            guard.unlock();
            SaveState();
            guard.lock();
            lastSave = std::chrono::steady_clock::now();
        }
        JoinFinishedWorkers(false);
        wake.wait_for(guard, std::chrono::milliseconds(100));
    }
    // Wind down: every connection ends before the files are touched.
    int expected = 0;
    stop.compare_exchange_strong(expected, 2);
    InterruptAllLocked();
    wake.notify_all();
    wake.wait(guard, [this] { return workersRunning == 0; });
    const TransferFailure why = failure;
    guard.unlock();
    JoinFinishedWorkers(true);
    if (heldWatcher.joinable()) heldWatcher.join();
    if (end == TransferEnd::Completed) {
        files->CloseData();
        // Under the lock, so that the block server reads from the data file until it is put
        // at its name and from there at once after.
        std::unique_lock<std::mutex> done(lock);
        if (!files->Finish(true)) {
            done.unlock();
            Fail(TransferFailure::DataFile, "the file could not be put at its name");
            end = TransferEnd::Failed;
        } else {
            finished = true;
            servable = blocks.has_value() || !request.md5.empty();
        }
    } else if (why == TransferFailure::DigestMismatch || why == TransferFailure::SizeLimit) {
        files->Finish(false);  // a wrong file must not be resumed either
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
    state_->env = limits.env ? limits.env : &TransferEnv::Default();
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
    const int64_t sizeLimit = request.sizeLimit > 0 ? request.sizeLimit : kDefaultSizeLimit;

    std::lock_guard<std::mutex> guard(s.lock);
    transfer::SchedulerSettings settings;
    settings.connectionsPerSource = s.limits.connectionsPerSource;
    settings.connectionsInAll = s.limits.connectionsInAll;
    settings.blockSize = kBlockSize;
    settings.seed = (static_cast<uint64_t>(std::random_device{}()) << 32) ^ std::random_device{}();
    s.scheduler = std::make_unique<Scheduler>(settings);
    s.interrupts.clear();
    s.startInterrupt = std::make_shared<platform::SocketInterrupt>();
    s.heldInterrupt = std::make_shared<platform::SocketInterrupt>();
    s.blocks.reset();
    s.resumed = false;
    s.workersRunning = 0;
    s.failure = TransferFailure::None;
    s.lastError.clear();
    s.finished = s.servable = false;
    s.sizeLimit = sizeLimit;
    s.lookupMirrors = s.lookupPeers = 0;
    s.lookupLength = -1;
    s.lookupMd5.clear();
    s.lookupDisagrees = false;
    s.listSettled = false;
    s.blame = DigestBlame();
    s.inRound = false;
    s.roundChanged = false;
    s.stop = 0;
    std::vector<Region> regions;
    if (request.resume && haveSaved && saved.url == request.urls.front() && saved.length > 0 &&
        saved.length <= sizeLimit && files->LoadRegionMap(saved, regions)) {
        s.scheduler->TellLength(saved.length);
        s.scheduler->Resume(PieceMap::FromRegions(regions, saved.length, saved.blockSize));
        s.resumed = true;
    } else {
        // Another file's state, or none: what an earlier task left must not survive into
        // this one (a longer old data file would leave its tail behind).
        files->Finish(false);
        files = std::make_unique<ResumeFiles>(request.target);
    }
    for (const std::string& url : request.urls) {
        if (const std::optional<SourceKind> kind = KindOf(url, false))
            s.scheduler->AddSource(url, *kind, Trust::Caller);
    }
    s.description = FileDescription{};
    s.description.blockSize = kBlockSize;
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

bool MultiSourceTransfer::AddSources(const std::vector<std::string>& urls, SourceRole role) {
    State& s = *state_;
    std::lock_guard<std::mutex> guard(s.lock);
    if (!s.running.load() || !s.scheduler || s.failure != TransferFailure::None) return false;
    const bool peer = role == SourceRole::LookupPeer;
    const Trust trust = role == SourceRole::CallerMirror ? Trust::Caller : Trust::Lookup;
    for (const std::string& url : urls) {
        size_t& taken = peer ? s.lookupPeers : s.lookupMirrors;
        if (trust == Trust::Lookup && taken >= (peer ? kMaxLookupPeers : kMaxLookupMirrors)) break;
        const std::optional<SourceKind> kind = KindOf(url, peer);
        if (!kind) continue;
        if (s.scheduler->AddSource(url, *kind, trust) >= 0 && trust == Trust::Lookup) {
            ++taken;
            if (s.lookupDisagrees) s.scheduler->Drop(s.scheduler->sourceCount() - 1, false);
        }
    }
    s.wake.notify_all();
    return true;
}

void MultiSourceTransfer::NoteLookupAnswer(int64_t length, const std::string& md5) {
    State& s = *state_;
    std::lock_guard<std::mutex> guard(s.lock);
    if (!s.running.load() || !s.scheduler) return;
    if (length >= 0) s.lookupLength = length;
    if (md5.empty()) return;
    s.lookupMd5 = md5;
    if (!s.request.md5.empty() && platform::LowerAscii(md5) != platform::LowerAscii(s.request.md5))
        s.DisagreeLocked("MD5");
}

void MultiSourceTransfer::Pause() {
    int expected = 0;
    state_->stop.compare_exchange_strong(expected, 1);
    std::lock_guard<std::mutex> guard(state_->lock);
    state_->InterruptAllLocked();
    state_->wake.notify_all();
}

void MultiSourceTransfer::Cancel() {
    int expected = 0;
    state_->stop.compare_exchange_strong(expected, 2);
    std::lock_guard<std::mutex> guard(state_->lock);
    state_->InterruptAllLocked();
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
    if (!s.scheduler) return st;
    st.total = std::max<int64_t>(s.scheduler->length(), 0);
    st.received = s.finished ? st.total : s.scheduler->received();
    st.sourcesInUse = s.scheduler->sourcesInUse();
    st.sourcesKnown = s.scheduler->sourceCount();
    st.url = s.request.urls.empty() ? std::string() : s.request.urls.front();
    st.failure = s.failure;
    const std::vector<int> blamed = s.scheduler->blamed();
    st.blamedSources = static_cast<int>(blamed.size());
    if (!blamed.empty()) st.lastBlamed = s.scheduler->source(blamed.back()).url;
    st.blocksChecked = s.blocks.has_value();
    st.checked = s.finished && s.servable;
    return st;
}

std::string MultiSourceTransfer::lastError() const {
    std::lock_guard<std::mutex> guard(state_->lock);
    return state_->lastError;
}

bool MultiSourceTransfer::ReadHeld(int64_t offset, size_t size, char* out) const {
    const State& s = *state_;
    // A second try when the data file was put at its name during the first: a peer asking
    // just then gets its bytes from there.
    for (int attempt = 0; attempt < 2; ++attempt) {
        std::string path;
        bool finished;
        {
            std::lock_guard<std::mutex> guard(s.lock);
            if (!s.files || !s.scheduler || offset < 0 || size == 0) return false;
            const int64_t end = offset + static_cast<int64_t>(size);
            finished = s.finished;
            if (finished) {
                if (!s.servable || end > s.scheduler->length()) return false;
                path = s.request.target;
            } else {
                // Only bytes that passed their block hash: without a block list nothing is
                // checked before the whole file is.
                if (!s.blocks || !s.scheduler->held().Hashed(offset, end)) return false;
                path = s.files->DataPath();
            }
        }
        std::unique_ptr<platform::IFile> file = OpenForReading(path);
        if (file && ReadExactly(*file, offset, out, size)) return true;
        if (finished) return false;
    }
    return false;
}

std::vector<ByteRange> MultiSourceTransfer::CheckedRanges() const {
    const State& s = *state_;
    std::lock_guard<std::mutex> guard(s.lock);
    std::vector<ByteRange> ranges;
    if (!s.scheduler || !s.files) return ranges;
    if (s.finished) {
        if (s.servable && s.scheduler->length() > 0) ranges.push_back({0, s.scheduler->length()});
        return ranges;
    }
    if (!s.blocks) return ranges;
    for (const PieceMap::Span& span : s.scheduler->held().spans()) {
        if (!span.hashed) continue;
        if (!ranges.empty() && ranges.back().to == span.from) {
            ranges.back().to = span.to;
        } else {
            ranges.push_back({span.from, span.to});
        }
    }
    return ranges;
}

}  // namespace engine
