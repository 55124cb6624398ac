// FTP mirrors: a control connection per fetch, one RETR from the piece's first byte, read
// until the piece is done. Every socket wait ends at once with the fetch's interrupt.
#include "engine/ftp_source.h"
#include "engine/transfer/fetcher.h"

namespace engine::transfer {
namespace {

constexpr size_t kChunk = 64 * 1024;

class FtpFetcher : public Fetcher {
  public:
    FetchResult Fetch(const FetchOrder& order, FetchSink& sink,
                      platform::SocketInterrupt& interrupt) override {
        FtpSource ftp(order.url, TimeoutsFor(order));
        ftp.SetInterrupt(&interrupt);
        auto failed = [&](const char* step) {
            if (interrupt.interrupted()) return FetchResult{FetchEnd::Interrupted, {}};
            return FetchResult{FetchEnd::Failed, order.url + ": " + step + " failed"};
        };
        if (ftp.Connect(order.url) != 0) return failed("login");
        int64_t end = order.end;
        if (order.probe()) {
            int64_t size = -1;
            const int code = ftp.Probe(size);
            if ((code != 200 && code != 206) || size < 0) return failed("the size query");
            if (!sink.OnLength(size)) return {FetchEnd::WrongBytes, order.url + ": another length"};
            end = size;
        }
        if (order.from >= end) return {FetchEnd::Done, {}};
        if (ftp.Open(order.from) != 200) return failed("RETR");
        std::vector<char> buffer(kChunk);
        for (int64_t offset = order.from;;) {
            const int64_t got = ftp.Read(buffer.data(), buffer.size());
            if (got < 0) return failed("the data connection");
            if (got == 0) {
                if (interrupt.interrupted()) return {FetchEnd::Interrupted, {}};
                // A file that ends before its length is not the file.
                if (offset >= end) return {FetchEnd::Done, {}};
                return {FetchEnd::WrongBytes, order.url + ": the file ends early"};
            }
            switch (sink.OnData(offset, buffer.data(), static_cast<size_t>(got))) {
                case FetchSink::Take::More:
                    break;
                case FetchSink::Take::Enough:
                    return {FetchEnd::Done, {}};
                case FetchSink::Take::Wrong:
                    return {FetchEnd::WrongBytes, order.url + ": other bytes than the file's"};
                case FetchSink::Take::Failed:
                    return {FetchEnd::Failed, {}};
            }
            offset += got;
        }
    }

    int64_t Length(const FetchOrder& order, platform::SocketInterrupt& interrupt) override {
        FtpSource ftp(order.url, TimeoutsFor(order));
        ftp.SetInterrupt(&interrupt);
        int64_t length = -1;
        if (ftp.Connect(order.url) == 0) ftp.Probe(length);
        return length;
    }

  private:
    static FtpTimeouts TimeoutsFor(const FetchOrder& order) {
        // A reply is data too: a server silent this long is given up.
        FtpTimeouts timeouts;
        timeouts.dataMs = timeouts.replyMs = order.noDataSeconds * 1000;
        return timeouts;
    }
};

}  // namespace

std::unique_ptr<Fetcher> NewFtpFetcher() { return std::make_unique<FtpFetcher>(); }

}  // namespace engine::transfer
