// A stand-in for the multi-source transfer while its real implementation is not part of the
// tree: one connection, one HTTP(S) source after another, each picking up where the data
// file ends. It keeps the header's contract (one `ended` call, resume from the data file,
// pause and cancel from any thread) so that the task layer and its tools work unchanged.
#include <openssl/evp.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <mutex>
#include <thread>

#include "engine/multi_source_transfer.h"
#include "engine/resume_state.h"
#include "platform/http_transfer.h"
#include "platform/native_path.h"

namespace engine {
namespace {

constexpr int32_t kBlockSize = 16384;

// Whether the file at `gbkPath` has the MD5 `hex` (either case).
bool DigestMatches(const std::string& gbkPath, const std::string& hex) {
    std::string native;
    std::unique_ptr<platform::IFile> file;
    if (!platform::NativePath(gbkPath, native) ||
        platform::PosixFileSystem().Open(native, platform::FileOpenMode::kRead, file) != 0) {
        return false;
    }
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    if (!ctx || EVP_DigestInit_ex(ctx.get(), EVP_md5(), nullptr) != 1) return false;
    std::vector<char> buffer(1 << 16);
    uint64_t offset = 0;
    for (;;) {
        size_t got = 0;
        if (file->ReadAt(offset, buffer.data(), buffer.size(), got) != 0) return false;
        if (got == 0) break;
        EVP_DigestUpdate(ctx.get(), buffer.data(), got);
        offset += got;
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(ctx.get(), digest, &length) != 1 || length * 2 != hex.size())
        return false;
    static const char kHex[] = "0123456789abcdef";
    for (unsigned int i = 0; i < length; ++i) {
        const char high = static_cast<char>(std::tolower(static_cast<unsigned char>(hex[2 * i])));
        const char low =
            static_cast<char>(std::tolower(static_cast<unsigned char>(hex[2 * i + 1])));
        if (high != kHex[digest[i] >> 4] || low != kHex[digest[i] & 15]) return false;
    }
    return true;
}

}  // namespace

struct TransferCore {
    TransferLimits limits;
    mutable std::mutex lock;
    TransferRequest request;
    std::vector<std::string> urls;  // guarded by lock
    std::thread worker;
    std::atomic<bool> running{false};
    std::atomic<int> stop{0};  // 0 run, 1 pause, 2 cancel
    std::atomic<int64_t> total{0};
    std::atomic<int64_t> received{0};
    std::atomic<int> inUse{0};
    std::string lastError;  // guarded by lock
    std::unique_ptr<ResumeFiles> files;
    std::function<void(TransferEnd)> ended;

    FileDescription description;  // owned by the worker
    std::chrono::steady_clock::time_point lastSave;

    void Run();
    bool FetchFrom(const std::string& url);
    // Saves what has arrived so that a killed process resumes from it.
    void SaveState();
    void SaveIfDue();
};

struct MultiSourceTransfer::State : TransferCore {};

namespace {

class Sink : public platform::HttpTransferEvents {
  public:
    Sink(TransferCore& s, int64_t offset) : s_(s), offset_(offset) {}
    void OnResolving(const std::string&) override {}
    void OnConnecting() override {}
    void OnConnected() override {}
    void OnRedirect(long, const std::string&) override {}
    bool OnResponse(long status, int64_t length) override;
    bool OnBody(const char* data, size_t size) override;
    bool OnTick() override { return s_.stop.load() == 0; }
    bool failed = false;

  private:
    TransferCore& s_;
    int64_t offset_;
};

}  // namespace
}  // namespace engine

namespace engine {
namespace {

bool Sink::OnResponse(long status, int64_t length) {
    // A source that ignores the range would write the file's start at the wrong place.
    const bool ranged = offset_ > 0;
    if (ranged ? status != 206 : status != 200) {
        failed = true;
        return false;
    }
    if (length >= 0) {
        const int64_t whole = offset_ + length;
        const int64_t known = s_.total.load();
        if (known > 0 && known != whole) {
            failed = true;
            return false;
        }
        s_.total = whole;
    }
    return s_.stop.load() == 0;
}

bool Sink::OnBody(const char* data, size_t size) {
    const int64_t total = s_.total.load();
    if (total > 0 && offset_ + static_cast<int64_t>(size) > total) {
        failed = true;
        return false;
    }
    if (s_.files->WriteData(offset_, data, size) != static_cast<int64_t>(size)) {
        failed = true;
        return false;
    }
    offset_ += static_cast<int64_t>(size);
    s_.received = offset_;
    s_.SaveIfDue();
    return s_.stop.load() == 0;
}

}  // namespace

void TransferCore::SaveState() {
    description.length = total.load();
    const int64_t blocks = received.load() / kBlockSize;
    std::vector<Region> regions;
    if (blocks > 0) {
        regions.push_back({0, static_cast<int32_t>(blocks), static_cast<int32_t>(blocks),
                           RegionState::Confirmed, 0, 0});
    }
    files->SaveDescription(description);
    files->SaveRegionMap(regions);
    lastSave = std::chrono::steady_clock::now();
}

void TransferCore::SaveIfDue() {
    // At least once a second: this stand-in has no other way to bound what a kill loses.
    const uint32_t interval = std::min<uint32_t>(limits.saveIntervalMs, 1000);
    if (std::chrono::steady_clock::now() - lastSave >= std::chrono::milliseconds(interval)) {
        SaveState();
    }
}

bool TransferCore::FetchFrom(const std::string& url) {
    platform::HttpRequest http;
    http.url = url;
    http.userAgent = "Browser1.0";
    http.rangeStart = received.load();
    http.connectTimeoutSeconds = 15;
    http.noDataTimeoutSeconds = 30;
    if (!request.referer.empty()) http.extraHeaders.push_back("Referer: " + request.referer);
    Sink sink(*this, http.rangeStart);
    inUse = 1;
    const platform::HttpResult result = platform::HttpGet(http, sink);
    inUse = 0;
    if (result.outcome == platform::HttpOutcome::Complete && !sink.failed) {
        if (total.load() <= 0) total = received.load();
        return received.load() == total.load();
    }
    std::lock_guard<std::mutex> guard(lock);
    lastError = url + ": status " + std::to_string(result.lastStatus);
    return false;
}

void TransferCore::Run() {
    lastSave = std::chrono::steady_clock::now();
    description.blockSize = kBlockSize;
    description.url = request.urls.empty() ? std::string() : request.urls.front();
    description.md5 = request.md5;
    description.referer = request.referer;
    description.downloadMode = request.downloadMode;
    TransferEnd end = TransferEnd::Failed;
    if (files->OpenData()) {
        bool done = false;
        for (size_t i = 0; !done && stop.load() == 0; ++i) {
            std::string url;
            {
                std::lock_guard<std::mutex> guard(lock);
                if (i >= urls.size()) break;
                url = urls[i];
            }
            done = FetchFrom(url);
        }
        if (done && !request.md5.empty() && !DigestMatches(files->DataPath(), request.md5)) {
            // The bytes are not the file that was asked for: nothing goes to the target.
            {
                std::lock_guard<std::mutex> guard(lock);
                lastError = "md5 mismatch";
            }
            files->Finish(false);
        } else if (done) {
            end = files->Finish(true) ? TransferEnd::Completed : TransferEnd::Failed;
        } else if (stop.load() != 0) {
            files->CloseData();
            SaveState();
            end = stop.load() == 1 ? TransferEnd::Paused : TransferEnd::Cancelled;
        } else {
            files->CloseData();
            SaveState();
        }
    }
    running = false;
    ended(end);
}

MultiSourceTransfer::MultiSourceTransfer(TransferLimits limits) : state_(new State) {
    state_->limits = limits;
}

MultiSourceTransfer::~MultiSourceTransfer() {
    Cancel();
    Join();
}

bool MultiSourceTransfer::Start(TransferRequest request, std::function<void(TransferEnd)> ended) {
    if (state_->running.load() || state_->worker.joinable() || request.target.empty()) return false;
    TransferCore& s = *state_;
    s.files = std::make_unique<ResumeFiles>(request.target);
    FileDescription saved;
    const bool haveSaved = s.files->LoadDescription(saved);
    if (request.urls.empty() && haveSaved) {
        request.urls.push_back(saved.url);
        if (request.referer.empty()) request.referer = saved.referer;
        if (request.md5.empty()) request.md5 = saved.md5;
        request.resume = true;
    }
    int64_t from = 0;
    std::vector<Region> regions;
    if (request.resume && haveSaved && !request.urls.empty() && saved.url == request.urls.front() &&
        s.files->LoadRegionMap(saved, regions)) {
        for (const Region& r : regions) {
            if (r.completed() && r.start == 0) from = int64_t{r.length} * saved.blockSize;
        }
        if (saved.length > 0) s.total = saved.length;
    }
    s.received = from;
    s.request = std::move(request);
    s.urls = s.request.urls;
    s.ended = std::move(ended);
    s.running = true;
    s.worker = std::thread([&s] { s.Run(); });
    return true;
}

void MultiSourceTransfer::AddSources(const std::vector<std::string>& urls) {
    std::lock_guard<std::mutex> guard(state_->lock);
    for (const std::string& url : urls) {
        if (url.rfind("http://", 0) != 0 && url.rfind("https://", 0) != 0) continue;
        bool known = false;
        for (const std::string& u : state_->urls) known = known || u == url;
        if (!known) state_->urls.push_back(url);
    }
}

void MultiSourceTransfer::Pause() {
    int expected = 0;
    state_->stop.compare_exchange_strong(expected, 1);
}

void MultiSourceTransfer::Cancel() {
    int expected = 0;
    state_->stop.compare_exchange_strong(expected, 2);
}

void MultiSourceTransfer::Join() {
    if (state_->worker.joinable() && state_->worker.get_id() != std::this_thread::get_id()) {
        state_->worker.join();
    }
}

TransferStatus MultiSourceTransfer::status() const {
    TransferStatus st;
    st.total = state_->total.load();
    st.received = state_->received.load();
    st.sourcesInUse = state_->inUse.load();
    std::lock_guard<std::mutex> guard(state_->lock);
    st.sourcesKnown = static_cast<int>(state_->urls.size());
    st.url = state_->request.urls.empty() ? std::string() : state_->request.urls.front();
    return st;
}

std::string MultiSourceTransfer::lastError() const {
    std::lock_guard<std::mutex> guard(state_->lock);
    return state_->lastError;
}

bool MultiSourceTransfer::ReadHeld(int64_t offset, size_t size, char* out) const {
    // Bytes below `received` have been written in order; the data file is read apart from
    // the writer's handle, which belongs to the worker.
    if (offset < 0 || size == 0 || offset + static_cast<int64_t>(size) > state_->received.load()) {
        return false;
    }
    std::string native;
    std::unique_ptr<platform::IFile> file;
    if (!state_->files || !platform::NativePath(state_->files->DataPath(), native) ||
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
