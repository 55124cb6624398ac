#include "engine/ftp_source.h"

#include <atomic>
#include <cstring>

#include "engine/logger.h"
#include "platform/poll_wait.h"

namespace engine {
namespace {

// A listing longer than this is not a listing of one file: the data connection is closed.
constexpr size_t kMaxListingBytes = 64 * 1024;
constexpr size_t kListingKept = 1024;

std::atomic<uint32_t> nextId{1};

}  // namespace

FtpSource::FtpSource(std::string url, FtpTimeouts timeouts)
    : id_(nextId++), url_(std::move(url)), timeouts_(timeouts) {}

void FtpSource::Close() {
    data_.Close();
    control_.Close();
    pending_.clear();
    parser_.Reset();
    connectedUrl_.clear();
    transferReplyPending_ = false;
    position_ = -1;
}

void FtpSource::SetInterrupt(platform::SocketInterrupt* interrupt) {
    control_.SetInterrupt(interrupt);
    data_.SetInterrupt(interrupt);
}

int FtpSource::Connect(const std::string& url) {
    Close();
    FtpUrl parts;
    if (!ParseFtpUrl(url, parts) ||
        !control_.Connect(parts.host, parts.port, timeouts_.connectMs) || ReadReply() != 220) {
        Close();
        return -1;
    }
    const bool anonymous = parts.user.empty();
    int code = Command("USER " + (anonymous ? std::string("anonymous") : parts.user) + "\r\n");
    if (code / 100 == 3) {
        code = Command("PASS " + (anonymous ? std::string(kAnonymousPassword) : parts.password) +
                       "\r\n");
    }
    if (code / 100 != 2) {
        Close();
        return -1;
    }
    connectedUrl_ = url;
    path_ = parts.path;
    return 0;
}

bool FtpSource::EnsureConnected() {
    if (control_.IsOpen() && connectedUrl_ == url_) return true;
    return Connect(url_) == 0;
}

FtpSource::Reply FtpSource::TakeReply() {
    std::string_view rest(pending_);
    const FtpReplyParser::Status status = parser_.Consume(rest);
    pending_.erase(0, pending_.size() - rest.size());
    switch (status) {
        case FtpReplyParser::Status::Complete:
            return Reply::Complete;
        case FtpReplyParser::Status::NeedMore:
            return Reply::Pending;
        case FtpReplyParser::Status::Refused:
            break;
    }
    return Reply::Failed;
}

bool FtpSource::ReceiveControl(uint32_t timeoutMs) {
    char buffer[4096];
    size_t got = 0;
    if (!control_.Receive(buffer, sizeof buffer, timeoutMs, got) || got == 0) return false;
    pending_.append(buffer, got);
    return true;
}

int FtpSource::ReadReply() {
    const platform::Deadline deadline(timeouts_.replyMs);
    for (;;) {
        const Reply reply = TakeReply();
        if (reply == Reply::Complete) return parser_.code();
        if (reply == Reply::Failed || deadline.Expired() ||
            !ReceiveControl(static_cast<uint32_t>(deadline.RemainingForPoll()))) {
            Close();
            return -1;
        }
    }
}

int FtpSource::Command(const std::string& line) {
    if (!control_.IsOpen() || !control_.SendAll(line, timeouts_.replyMs)) {
        Close();
        return -1;
    }
    return ReadReply();
}

bool FtpSource::OpenPassiveData(int& failure, int socketFailure, int connectFailure) {
    std::string host;
    uint16_t port = 0;
    if (Command("PASV\r\n") != 227 || !ParsePassiveReply(parser_.lastLine(), host, port)) {
        return false;
    }
    const std::string controlHost = control_.PeerAddress();
    if (host != controlHost) {
        Logger::Instance().Log(kLogLevelInfo, "%08X passive reply names %s, connecting to %s", id_,
                               host.c_str(), controlHost.c_str());
    }
    if (platform::SysStatus s = data_.Connect(controlHost, port, timeouts_.connectMs); !s) {
        failure =
            s.operation && std::strcmp(s.operation, "socket") == 0 ? socketFailure : connectFailure;
        return false;
    }
    return true;
}

bool FtpSource::ReadListing(std::string& listing, bool& replyOk) {
    const platform::TcpSocket none;
    size_t total = 0;
    bool replied = false;
    auto take = [&] {
        const Reply reply = TakeReply();
        if (reply == Reply::Complete) {
            replied = true;
            replyOk = parser_.code() / 100 == 2;
            // A refused listing may never close its data side: stop waiting for it.
            if (!replyOk) data_.Close();
        }
        return reply != Reply::Failed;
    };
    if (!take()) {
        Close();
        return false;
    }
    while (data_.IsOpen() || !replied) {
        bool dataReady = false, controlReady = false;
        if (!platform::TcpSocket::WaitReadable(data_, replied ? none : control_, timeouts_.dataMs,
                                               dataReady, controlReady)) {
            Close();  // a silent server: the conversation cannot go on in step
            return false;
        }
        if (dataReady) {
            char buffer[4096];
            size_t got = 0;
            if (!data_.Receive(buffer, sizeof buffer, timeouts_.dataMs, got) || got == 0 ||
                (total += got) > kMaxListingBytes) {
                data_.Close();
            } else if (listing.size() < kListingKept) {
                listing.append(buffer, std::min(got, kListingKept - listing.size()));
            }
        }
        if (controlReady && (!ReceiveControl(timeouts_.replyMs) || !take())) {
            Close();
            return false;
        }
    }
    return true;
}

int FtpSource::Probe(int64_t& size) {
    CloseData();
    if (!EnsureConnected()) return 400;
    if (Command("TYPE A\r\n") != 200) return 401;
    int failure = 402;
    if (!OpenPassiveData(failure, 403, 404)) return failure;
    if (Command("LIST " + path_ + "\r\n") / 100 != 1) {
        data_.Close();
        return 405;
    }
    std::string listing;
    bool listed = false;
    if (!ReadListing(listing, listed)) return 405;

    int64_t found = 0;
    bool binary = false;
    if (!listed || !ParseListingSize(listing, found)) {
        if (Command("TYPE I\r\n") != 200) return 408;
        binary = true;
        if (Command("SIZE " + path_ + "\r\n") / 100 != 2 ||
            !ParseSizeReply(parser_.lastLine(), found)) {
            return 407;
        }
    }
    size = found;
    // Servers refuse a restart in ASCII mode, and only binary transfers are ever resumed.
    if (!binary && Command("TYPE I\r\n") != 200) return 408;
    if (Command("REST 100\r\n") / 100 != 3) return 200;
    Command("REST 0\r\n");
    return 206;
}

int FtpSource::Open(int64_t offset) {
    if (data_.IsOpen() && position_ == offset && connectedUrl_ == url_) return 200;
    Logger::Instance().Log(kLogLevelInfo,
                           "%08X peer,data conn closed or offset not equal, old %lld, new %lld",
                           id_, static_cast<long long>(position_), static_cast<long long>(offset));
    CloseData();
    if (offset < 0) return 401;
    if (!EnsureConnected()) return 400;
    if (Command("TYPE I\r\n") != 200) return 401;
    int failure = 401;
    if (!OpenPassiveData(failure, 400, 400)) return failure;
    // 64-bit: offsets of 2 GiB and more are common for game archives.
    if (offset > 0 && Command("REST " + std::to_string(offset) + "\r\n") / 100 != 3) {
        data_.Close();
        return 401;
    }
    if (Command("RETR " + path_ + "\r\n") / 100 != 1) {
        data_.Close();
        return 403;
    }
    transferReplyPending_ = true;
    position_ = offset;
    return 200;
}

int64_t FtpSource::Read(char* data, size_t size) {
    if (!data_.IsOpen()) return -1;
    size_t got = 0;
    if (!data_.Receive(data, size, timeouts_.dataMs, got)) {
        CloseData();
        return -1;
    }
    if (got == 0) {
        data_.Close();  // the server's closing reply is read when the next step begins
        return 0;
    }
    position_ += static_cast<int64_t>(got);
    return static_cast<int64_t>(got);
}

void FtpSource::CloseData() {
    data_.Close();
    if (transferReplyPending_) {
        transferReplyPending_ = false;
        if (control_.IsOpen()) ReadReply();
    }
    position_ = -1;
}

}  // namespace engine
