#include "engine/block_server.h"

#include <errno.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "engine/block_request.h"
#include "engine/held_map.h"
#include "engine/upload_limiter.h"
#include "platform/ascii_text.h"
#include "platform/digest.h"
#include "platform/hex_text.h"
#include "platform/tcp_listener.h"

namespace engine {
namespace {

using SteadyClock = std::chrono::steady_clock;

constexpr uint32_t kAcceptPollMs = 200;  // how soon the accept loop sees a stop
constexpr size_t kChunk = 64 * 1024;
// Under an upload rate each connection is sent smaller chunks, so that its data keeps
// flowing (an asker takes a connection silent for long to have stalled).
constexpr size_t kMinLimitedChunk = 4 * 1024;
// The most one answer to a ranged request carries: the asker takes the rest in another
// request, so a large range does not hold a slot (and the held check) for long.
constexpr int64_t kMaxRangeAnswer = 16 << 20;
// Answers end on a multiple of this (the checked block) from their start, so that an asker
// that checks blocks keeps all of a shortened answer.
constexpr int64_t kAnswerUnit = 256 * 1024;
// Connections let in beyond the uploads, for request heads and held maps: a peer busy
// uploading still answers what it holds.
constexpr size_t kSpareConnections = 4;

struct Published {
    int64_t length = 0;
    HeldReader reader;
    HeldRanges ranges;
    int busy = 0;  // calls under way; Withdraw waits for them
};

const char* ReasonOf(int status) {
    switch (status) {
        case 200:
            return "OK";
        case 206:
            return "Partial Content";
        case 400:
            return "Bad Request";
        case 404:
            return "Not Found";
        case 416:
            return "Range Not Satisfiable";
        default:
            return "Service Unavailable";
    }
}

std::string StatusHead(int status, const std::string& extra, int64_t contentLength) {
    return "HTTP/1.1 " + std::to_string(status) + " " + ReasonOf(status) +
           "\r\nConnection: close\r\nContent-Length: " + std::to_string(contentLength) + "\r\n" +
           extra + "\r\n";
}

// The refusal of bytes that are not held, or lie past the end.
std::string NotHeldHead(int64_t length) {
    return StatusHead(416, "Content-Range: bytes */" + std::to_string(length) + "\r\n", 0);
}

// The wait one more write may take: the time-out, or what is left of the answer's deadline
// (0: none left).
uint32_t WriteWait(uint32_t ioTimeoutMs, SteadyClock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now())
            .count();
    return left <= 0 ? 0 : static_cast<uint32_t>(std::min<int64_t>(left, ioTimeoutMs));
}

}  // namespace

struct BlockServer::State {
    std::mutex mutex;
    std::condition_variable changed;
    std::map<std::string, std::shared_ptr<Published>> files;
    platform::TcpListener listener;
    std::thread acceptThread;
    std::atomic<bool> stopping{false};
    std::atomic<uint16_t> port{0};
    // Guarded by mutex.
    int connections = 0;
    size_t uploadsRunning = 0;
    size_t uploads = kDefaultUploads;
    uint32_t ioTimeoutMs = kDefaultIoTimeoutMs;
    uint32_t answerDeadlineMs = kDefaultAnswerDeadlineMs;
    UploadLimiter limiter;

    void AcceptLoop();
    void Serve(platform::TcpSocket& socket);
    std::shared_ptr<Published> Find(const std::string& key);
    // Runs `call` on the file unless it was withdrawn meanwhile (then false).
    template <typename Call>
    bool Use(const std::string& key, const std::shared_ptr<Published>& file, Call call);
    bool ReadHeld(const std::string& key, const std::shared_ptr<Published>& file, int64_t offset,
                  size_t size, char* out) {
        return Use(key, file, [&](Published& f) { return f.reader(offset, size, out); });
    }
    void AnswerHeldMap(platform::TcpSocket& socket, const BlockRequest& request,
                       const std::shared_ptr<Published>& file);
    void Answer(platform::TcpSocket& socket, const BlockRequest& request,
                SteadyClock::time_point deadline);
    // Sends `size` bytes from `offset` at the upload rate; false when it broke off.
    bool SendBody(platform::TcpSocket& socket, const BlockRequest& request,
                  const std::shared_ptr<Published>& file, int64_t offset, int64_t size,
                  SteadyClock::time_point deadline);
    // Waits until `at`, or the stop; false when the stop came or `at` lies past `deadline`.
    bool WaitUntil(SteadyClock::time_point at, SteadyClock::time_point deadline);
    bool TakeUploadSlot();
    void ReturnUploadSlot();
};

void BlockServer::State::AcceptLoop() {
    while (!stopping) {
        platform::TcpSocket socket;
        if (!listener.Accept(kAcceptPollMs, socket)) continue;
        std::unique_lock lock(mutex);
        if (static_cast<size_t>(connections) >= uploads + kSpareConnections) {
            const uint32_t timeout = ioTimeoutMs;
            lock.unlock();
            // Busy: a short answer rather than a connection left hanging.
            (void)socket.SendAll(StatusHead(503, "", 0), timeout);
            continue;
        }
        ++connections;
        lock.unlock();
        std::thread([this, s = std::move(socket)]() mutable {
            Serve(s);
            {
                // The slot is free before the peer sees the close, so a client that
                // reconnects at once finds it; after this nothing of `this` is touched.
                std::lock_guard done(mutex);
                --connections;
                changed.notify_all();
            }
            s.Close();
        }).detach();
    }
}

std::shared_ptr<Published> BlockServer::State::Find(const std::string& key) {
    std::lock_guard lock(mutex);
    const auto found = files.find(key);
    return found == files.end() ? nullptr : found->second;
}

template <typename Call>
bool BlockServer::State::Use(const std::string& key, const std::shared_ptr<Published>& file,
                             Call call) {
    // A file published again under its key meanwhile (a finished download now seeded) is
    // the same file: an answer under way goes on from the new one.
    std::shared_ptr<Published> current;
    {
        std::lock_guard lock(mutex);
        const auto found = files.find(key);
        if (found == files.end() || found->second->length != file->length) return false;
        current = found->second;
        ++current->busy;
    }
    const bool done = call(*current);
    std::lock_guard lock(mutex);
    --current->busy;
    changed.notify_all();
    return done;
}

bool BlockServer::State::TakeUploadSlot() {
    std::lock_guard lock(mutex);
    if (uploadsRunning >= uploads) return false;
    ++uploadsRunning;
    return true;
}

void BlockServer::State::ReturnUploadSlot() {
    std::lock_guard lock(mutex);
    --uploadsRunning;
}

bool BlockServer::State::WaitUntil(SteadyClock::time_point at, SteadyClock::time_point deadline) {
    if (at > deadline) return false;
    std::unique_lock lock(mutex);
    return !changed.wait_until(lock, at, [this] { return stopping.load(); });
}

void BlockServer::State::AnswerHeldMap(platform::TcpSocket& socket, const BlockRequest& request,
                                       const std::shared_ptr<Published>& file) {
    std::vector<transfer::ByteRange> held;
    if (!Use(request.key, file, [&](Published& f) {
            held = f.ranges();
            return true;
        })) {
        (void)socket.SendAll(StatusHead(404, "", 0), ioTimeoutMs);
        return;
    }
    const std::string body = FormatHeldMap(file->length, std::move(held));
    const std::string head =
        StatusHead(200, "Content-Type: text/plain\r\n", static_cast<int64_t>(body.size()));
    (void)socket.SendAll(request.headOnly ? head : head + body, ioTimeoutMs);
}

bool BlockServer::State::SendBody(platform::TcpSocket& socket, const BlockRequest& request,
                                  const std::shared_ptr<Published>& file, int64_t offset,
                                  int64_t size, SteadyClock::time_point deadline) {
    size_t chunk = kChunk;
    {
        std::lock_guard lock(mutex);
        if (limiter.rate() > 0) {
            chunk = std::clamp<size_t>(
                static_cast<size_t>(limiter.rate() / (4 * std::max<size_t>(uploads, 1))),
                kMinLimitedChunk, kChunk);
        }
    }
    std::vector<char> buffer(chunk);
    for (int64_t at = 0; at < size; at += static_cast<int64_t>(chunk)) {
        const size_t n = static_cast<size_t>(std::min<int64_t>(chunk, size - at));
        SteadyClock::time_point sendAt;
        {
            std::lock_guard lock(mutex);
            sendAt = limiter.Reserve(n, SteadyClock::now());
        }
        // A read that fails now (withdrawn meanwhile) cuts the body short: the client sees
        // fewer bytes than announced and drops them; so does a client too slow to take the
        // answer before its deadline, however steadily it reads.
        if (!WaitUntil(sendAt, deadline)) return false;
        const uint32_t wait = WriteWait(ioTimeoutMs, deadline);
        if (stopping || wait == 0 || !ReadHeld(request.key, file, offset + at, n, buffer.data())) {
            return false;
        }
        if (!socket.SendAll(std::string_view(buffer.data(), n), wait)) return false;
    }
    return true;
}

void BlockServer::State::Answer(platform::TcpSocket& socket, const BlockRequest& request,
                                SteadyClock::time_point deadline) {
    const std::shared_ptr<Published> file = Find(request.key);
    if (!file) {
        (void)socket.SendAll(StatusHead(404, "", 0), ioTimeoutMs);
        return;
    }
    if (request.heldMap) return AnswerHeldMap(socket, request, file);
    const BlockAnswer plan = PlanBlockAnswer(request, file->length);
    if (plan.status == 416) {
        (void)socket.SendAll(NotHeldHead(file->length), ioTimeoutMs);
        return;
    }
    if (!request.headOnly && !TakeUploadSlot()) {
        (void)socket.SendAll(StatusHead(503, "", 0), ioTimeoutMs);
        return;
    }
    // Every byte must be held before the answer promises it. A whole file is served only
    // when all of it is held; a range is answered with the held bytes from its first one
    // on (Content-Range says how many): a peer that is downloading the file itself holds
    // parts of it, and the asker fetches the rest elsewhere. Under an upload rate a range
    // gets what half the answer's time allows, so that it ends in time.
    const bool ranged = plan.status == 206;
    int64_t cap = kMaxRangeAnswer;
    {
        std::lock_guard lock(mutex);
        if (limiter.rate() > 0) {
            const int64_t share =
                static_cast<int64_t>(limiter.rate() / std::max<size_t>(uploads, 1));
            cap = std::clamp<int64_t>(share * answerDeadlineMs / 2000 / kAnswerUnit * kAnswerUnit,
                                      kAnswerUnit, kMaxRangeAnswer);
        }
    }
    const int64_t wanted = ranged ? std::min(plan.size, cap) : plan.size;
    std::vector<char> buffer(kChunk);
    int64_t size = 0;
    while (size < wanted && !stopping) {
        size_t n = static_cast<size_t>(std::min<int64_t>(kChunk, wanted - size));
        if (!ReadHeld(request.key, file, plan.offset + size, n, buffer.data())) {
            if (!ranged) break;
            // The held part ends inside this chunk: find where.
            size_t heldPart = 0;
            while (n - heldPart > 1) {
                const size_t middle = heldPart + (n - heldPart) / 2;
                if (ReadHeld(request.key, file, plan.offset + size, middle, buffer.data())) {
                    heldPart = middle;
                } else {
                    n = middle;
                }
            }
            size += static_cast<int64_t>(heldPart);
            break;
        }
        size += static_cast<int64_t>(n);
    }
    if (stopping || (ranged ? size == 0 && plan.size > 0 : size < plan.size)) {
        (void)socket.SendAll(NotHeldHead(file->length), ioTimeoutMs);
    } else {
        std::string extra = "Accept-Ranges: bytes\r\nContent-Type: application/octet-stream\r\n";
        if (ranged && size > 0) {
            extra += "Content-Range: bytes " + std::to_string(plan.offset) + "-" +
                     std::to_string(plan.offset + size - 1) + "/" + std::to_string(file->length) +
                     "\r\n";
        }
        if (socket.SendAll(StatusHead(plan.status, extra, size), ioTimeoutMs) && !request.headOnly)
            SendBody(socket, request, file, plan.offset, size, deadline);
    }
    if (!request.headOnly) ReturnUploadSlot();
}

void BlockServer::State::Serve(platform::TcpSocket& socket) {
    std::string head;
    char piece[1024];
    // One time-out for the whole head: a peer dribbling a byte now and then must not hold
    // its slot for ever.
    const auto deadline = SteadyClock::now() + std::chrono::milliseconds(ioTimeoutMs);
    while (head.find("\r\n\r\n") == std::string::npos) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now());
        if (left.count() <= 0) return;
        if (head.size() > kMaxRequestHead) {
            (void)socket.SendAll(StatusHead(400, "", 0), ioTimeoutMs);
            return;
        }
        size_t got = 0;
        if (stopping ||
            !socket.Receive(piece, sizeof piece, static_cast<uint32_t>(left.count()), got) ||
            got == 0)
            return;  // silent or gone: the slot is freed
        head.append(piece, got);
    }
    const auto request = ParseBlockRequest(head);
    if (!request) {
        (void)socket.SendAll(StatusHead(400, "", 0), ioTimeoutMs);
        return;
    }
    uint32_t answerMs;
    {
        std::lock_guard lock(mutex);
        answerMs = answerDeadlineMs;
    }
    Answer(socket, *request, SteadyClock::now() + std::chrono::milliseconds(answerMs));
}

BlockServer::BlockServer() : state_(std::make_unique<State>()) {}

BlockServer::~BlockServer() { Stop(); }

bool BlockServer::Start(const std::string& address, uint16_t port) {
    if (state_->acceptThread.joinable()) return false;
    if (!state_->listener.Listen(address, port)) return false;
    state_->stopping = false;
    state_->port = state_->listener.port();
    state_->acceptThread = std::thread([this] { state_->AcceptLoop(); });
    return true;
}

void BlockServer::Stop() {
    if (!state_->acceptThread.joinable()) return;
    state_->stopping = true;
    state_->acceptThread.join();
    state_->listener.Close();
    state_->port = 0;
    // Connections notice the stop between reads; each read waits at most the time-out.
    std::unique_lock lock(state_->mutex);
    state_->changed.notify_all();
    state_->changed.wait(lock, [this] { return state_->connections == 0; });
}

uint16_t BlockServer::port() const { return state_->port; }

void BlockServer::SetLimits(size_t uploads, uint32_t ioTimeoutMs, uint32_t answerDeadlineMs) {
    std::lock_guard lock(state_->mutex);
    state_->uploads = std::max<size_t>(uploads, 1);
    state_->ioTimeoutMs = ioTimeoutMs;
    state_->answerDeadlineMs = answerDeadlineMs;
}

void BlockServer::SetUploadLimit(uint64_t bytesPerSecond, size_t uploads) {
    std::lock_guard lock(state_->mutex);
    if (uploads > 0) state_->uploads = uploads;
    // A quarter of a second's worth may leave at once after a quiet while.
    state_->limiter.SetRate(bytesPerSecond, std::max<uint64_t>(bytesPerSecond / 4, kChunk));
}

void BlockServer::Publish(const std::string& key, int64_t length, HeldReader reader,
                          HeldRanges ranges) {
    auto file = std::make_shared<Published>();
    file->length = length < 0 ? 0 : length;
    file->reader = std::move(reader);
    file->ranges = std::move(ranges);
    // The new one replaces the old at once (a peer asking meanwhile is never told that the
    // file is gone); the old one's calls end before this returns.
    std::unique_lock lock(state_->mutex);
    std::shared_ptr<Published>& slot = state_->files[key];
    const std::shared_ptr<Published> old = std::move(slot);
    slot = std::move(file);
    if (old) state_->changed.wait(lock, [&] { return old->busy == 0; });
}

void BlockServer::Withdraw(const std::string& key) {
    std::unique_lock lock(state_->mutex);
    const auto found = state_->files.find(key);
    if (found == state_->files.end()) return;
    const std::shared_ptr<Published> file = found->second;
    state_->files.erase(found);
    // After this returns neither function is called again: their owner may go.
    state_->changed.wait(lock, [&] { return file->busy == 0; });
}

std::optional<std::vector<transfer::ByteRange>> BlockServer::Held(const std::string& key) {
    const std::shared_ptr<Published> file = state_->Find(key);
    std::vector<transfer::ByteRange> held;
    if (!file || !state_->Use(key, file, [&](Published& f) {
            held = f.ranges();
            return true;
        })) {
        return std::nullopt;
    }
    return held;
}

std::string BlockKey(const std::string& md5, const std::string& firstUrl) {
    if (!md5.empty()) return platform::LowerAscii(md5);
    const platform::Md5Digest digest = platform::Md5Of(firstUrl);
    return platform::LowerHex(digest.data(), digest.size());
}

}  // namespace engine
