// HTTP and HTTPS mirrors and peers: one GET per fetch, a range unless it is a probe.
#include <chrono>

#include "engine/transfer/fetcher.h"
#include "platform/http_transfer.h"

namespace engine::transfer {
namespace {

platform::HttpRequest RequestFor(const FetchOrder& order) {
    platform::HttpRequest http;
    http.url = order.url;
    http.userAgent = "Browser1.0";
    http.bypassCaches = false;
    http.connectTimeoutSeconds = 10;
    http.noDataTimeoutSeconds = order.noDataSeconds;
    if (!order.referer.empty()) http.extraHeaders.push_back("Referer: " + order.referer);
    return http;
}

class RangeEvents : public platform::HttpTransferEvents {
  public:
    RangeEvents(const FetchOrder& order, int64_t askedEnd, FetchSink& sink)
        : order_(order), askedEnd_(askedEnd), offset_(order.from), sink_(sink) {}
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
    bool OnResponse(long code, int64_t length) override;
    bool OnBody(const char* data, size_t size) override {
        take = sink_.OnData(offset_, data, size);
        offset_ += static_cast<int64_t>(size);
        return take == FetchSink::Take::More;
    }
    bool OnTick() override { return true; }

    FetchSink::Take take = FetchSink::Take::More;
    bool wrongBytes = false;
    bool busy = false;
    bool notHeld = false;
    bool refused = false;      // another status
    int64_t answeredEnd = -1;  // where the answer's range ends
    int64_t offset() const { return offset_; }

  private:
    const FetchOrder& order_;
    int64_t askedEnd_;
    int64_t offset_;
    FetchSink& sink_;
    bool hasRange_ = false;
    int64_t rangeFirst_ = -1, rangeLast_ = -1, rangeTotal_ = -1;
};

bool RangeEvents::OnResponse(long code, int64_t length) {
    if (code == 503 || code == 429 || code == 404 || code == 416) {
        busy = code == 503 || code == 429;
        notHeld = !busy;
        return false;
    }
    if (order_.probe()) {
        // The first connection asks for the whole file and learns its length.
        if (code != 200 && code != 206) {
            refused = true;
            return false;
        }
        if (length >= 0 && !sink_.OnLength(length)) {
            wrongBytes = true;  // another length than the file has, or past the cap
            return false;
        }
        return true;
    }
    // A ranged request must get its range of this file, or the start of it (a peer sends
    // what it holds): a 200 is the whole file from its start (the server ignored the
    // range), and another first byte, a longer range, a body of another length or another
    // file length is another range, or another file.
    const bool rangeRight =
        hasRange_ && rangeFirst_ == order_.from && rangeLast_ >= rangeFirst_ &&
        rangeLast_ <= askedEnd_ - 1 && (length < 0 || length == rangeLast_ - rangeFirst_ + 1) &&
        (rangeTotal_ < 0 || order_.knownLength < 0 || rangeTotal_ == order_.knownLength);
    if (code != 206 || !rangeRight) {
        wrongBytes = code == 200 || code == 206;
        refused = !wrongBytes;
        return false;
    }
    answeredEnd = rangeLast_ + 1;
    return true;
}

class HttpFetcher : public Fetcher {
  public:
    explicit HttpFetcher(bool peer) : peer_(peer) {}

    FetchResult Fetch(const FetchOrder& order, FetchSink& sink,
                      platform::SocketInterrupt& interrupt) override {
        // A peer cannot tell the file's length: it is asked for ranges only.
        if (peer_ && order.probe())
            return {FetchEnd::Failed, order.url + ": a peer asked for a length"};
        platform::HttpRequest http = RequestFor(order);
        int64_t askedEnd = order.end;
        if (!order.probe()) {
            askedEnd = std::min(order.end, order.from + kMaxRequestBytes);
            http.rangeStart = order.from;
            http.rangeEnd = askedEnd - 1;
        }
        http.interrupt = &interrupt;
        RangeEvents events(order, askedEnd, sink);
        const platform::HttpResult result = platform::HttpGet(http, events);
        using Take = FetchSink::Take;
        if (events.take == Take::Enough) return {FetchEnd::Done, {}};
        if (events.take == Take::Wrong || events.wrongBytes)
            return {FetchEnd::WrongBytes, order.url + ": other bytes than the file's"};
        if (interrupt.interrupted()) return {FetchEnd::Interrupted, {}};
        if (events.busy) return {FetchEnd::Busy, {}};
        if (events.notHeld) return {FetchEnd::NotHeld, {}};
        if (events.take == Take::Failed || events.refused ||
            result.outcome != platform::HttpOutcome::Complete) {
            return {FetchEnd::Failed, order.url + ": status " + std::to_string(result.lastStatus) +
                                          ", outcome " +
                                          std::to_string(static_cast<int>(result.outcome))};
        }
        if (order.probe()) return {FetchEnd::Done, {}};
        // A shorter answer delivered whole: the rest of the piece is asked for again.
        if (events.answeredEnd > 0 && events.offset() >= events.answeredEnd)
            return {FetchEnd::Done, {}};
        return {FetchEnd::Failed, order.url + ": the answer broke off"};
    }

    int64_t Length(const FetchOrder& order, platform::SocketInterrupt& interrupt) override {
        if (peer_) return -1;
        platform::HttpRequest http = RequestFor(order);
        http.rangeEnd = 0;  // the first byte: the answer's head tells the length
        http.interrupt = &interrupt;
        LengthEvents events;
        platform::HttpGet(http, events);
        return events.length;
    }

    std::optional<HeldMap> Held(const FetchOrder& order,
                                platform::SocketInterrupt& interrupt) override {
        if (!peer_) return std::nullopt;
        platform::HttpRequest http = RequestFor(order);
        http.url = order.url + "?held";
        http.connectTimeoutSeconds = kHeldMapSeconds;
        http.noDataTimeoutSeconds = kHeldMapSeconds;
        http.maxRedirects = 0;
        http.interrupt = &interrupt;
        MapEvents events;
        const platform::HttpResult result = platform::HttpGet(http, events);
        if (result.outcome != platform::HttpOutcome::Complete || !events.ok) return std::nullopt;
        return ParseHeldMap(events.body);
    }

  private:
    // A held map is small and quick to answer: a peer that takes longer is asked again later.
    static constexpr uint32_t kHeldMapSeconds = 5;

    class MapEvents : public platform::HttpTransferEvents {
      public:
        void OnResolving(const std::string&) override {}
        void OnConnecting() override {}
        void OnConnected() override {}
        void OnRedirect(long, const std::string&) override {}
        bool OnResponse(long status, int64_t contentLength) override {
            ok = status == 200 && contentLength <= static_cast<int64_t>(kMaxHeldMapBytes);
            return ok;
        }
        bool OnBody(const char* data, size_t size) override {
            if (size > kMaxHeldMapBytes - body.size() || Late()) return ok = false;
            body.append(data, size);
            return true;
        }
        bool OnTick() override { return !Late(); }
        bool Late() const { return std::chrono::steady_clock::now() >= deadline_; }
        bool ok = false;
        std::string body;

      private:
        std::chrono::steady_clock::time_point deadline_ =
            std::chrono::steady_clock::now() + std::chrono::seconds(2 * kHeldMapSeconds);
    };

    // Learns a file's length from the answer to a request for its first byte.
    class LengthEvents : public platform::HttpTransferEvents {
      public:
        void OnResolving(const std::string&) override {}
        void OnConnecting() override {}
        void OnConnected() override {}
        void OnRedirect(long, const std::string&) override {}
        void OnContentRange(int64_t, int64_t, int64_t total) override { rangeTotal_ = total; }
        bool OnResponse(long status, int64_t contentLength) override {
            if (status == 206) length = rangeTotal_;
            if (status == 200) length = contentLength;
            return false;  // the head is all that is wanted
        }
        bool OnBody(const char*, size_t) override { return false; }
        bool OnTick() override { return true; }
        int64_t length = -1;

      private:
        int64_t rangeTotal_ = -1;
    };

    bool peer_;
};

}  // namespace

std::unique_ptr<Fetcher> NewHttpFetcher() { return std::make_unique<HttpFetcher>(false); }
std::unique_ptr<Fetcher> NewPeerFetcher() { return std::make_unique<HttpFetcher>(true); }

}  // namespace engine::transfer
