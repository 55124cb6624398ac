#include "download/http/down_ant.h"

#include <cerrno>
#include <cstring>

#include "download/http/bounded_text.h"
#include "platform/http_url.h"
#include "platform/native_path.h"

namespace DOWNANT {

uint32_t PhaseOfDownState(uint32_t state) {
    if (state <= DOWN_STATE_BAD_TASK) return 0;
    if (state <= DOWN_STATE_RECEIVING) return 1;
    if (state <= DOWN_STATE_STOPPED_COMPLETE) return 2;
    if (state <= DOWN_STATE_TOO_LARGE) return 3;
    return 0;
}

CDownAnt::CDownAnt(uint32_t partIndex) : partIndex_(partIndex) {}

CDownAnt::~CDownAnt() { CloseFile(); }

void CDownAnt::SetState(uint32_t state) { state_ = state; }

void CDownAnt::CloseFile() {
    // Only an abandoned file is closed here; its content no longer matters.
    if (file_) {
        file_->Close();
        file_.reset();
    }
}

void CDownAnt::FailWrite(int error) {
    CloseFile();
    localError_ = error;
    FormatBounded(message_, sizeof(message_), "写本地文件是发生异常, Error:%d", error);
    SetState(DOWN_STATE_WRITE_FAILED);
    Notify();
}

void CDownAnt::FailTooLarge() {
    FormatBounded(message_, sizeof(message_), "文件超过大小上限: %lld",
                  static_cast<long long>(settings_.sizeLimit));
    SetState(DOWN_STATE_TOO_LARGE);
    Notify();
}

void CDownAnt::Notify() {
    phase_ = PhaseOfDownState(state_);
    if (phase_ == 2 || phase_ == 3) CloseFile();
    if (ownerCallback_ != nullptr) ownerResult_ = ownerCallback_(ownerContext_, this);
}

bool CDownAnt::SetTask(const char* url, const char* localPath, TransferCallback callback,
                       void* ownerContext) {
    ownerCallback_ = callback;
    ownerContext_ = ownerContext;
    const std::string_view urlText = url ? url : "";
    const std::string_view pathText = localPath ? localPath : "";
    // A URL or path cut to fit would name another file: refuse it instead.
    const bool fits = CopyBounded(url_, sizeof(url_), urlText) &
                      CopyBounded(localPath_, sizeof(localPath_), pathText);
    platform::HttpUrl parsed;
    if (urlText.empty() || pathText.empty()) {
        FormatBounded(message_, sizeof(message_), "下载地址和本地文件地址不能为空");
        SetState(DOWN_STATE_BAD_TASK);
    } else if (!fits ||
               !platform::ParseDownloadUrl(urlText, sizeof(host_), sizeof(object_), parsed)) {
        FormatBounded(message_, sizeof(message_), "地址解析错误: %s", url_);
        SetState(DOWN_STATE_BAD_TASK);
    } else {
        scheme_ = parsed.scheme;
        CopyBounded(host_, sizeof(host_), parsed.host);
        CopyBounded(object_, sizeof(object_), parsed.object);
        port_ = parsed.port;
        canonicalUrl_ = parsed.canonical;
        SetState(DOWN_STATE_READY);
    }
    Notify();
    return state_ == DOWN_STATE_READY;
}

bool CDownAnt::AbortCheck() {
    // libcurl may call back again before an aborted transfer unwinds: the end is told once.
    if (phase_ == 2 || phase_ == 3) return true;
    uint32_t next = DOWN_STATE_NONE;
    if (stopFlag_.load(std::memory_order_relaxed) != 0 || ownerResult_ == OWNER_ABORT) {
        next = DOWN_STATE_ABORTED;
    } else if (ownerResult_ == OWNER_STOP_COMPLETE) {
        next = DOWN_STATE_STOPPED_COMPLETE;
    } else if (timeoutSeconds_ != kNoTimeout && phase_ == 1 &&
               std::chrono::steady_clock::now() - startTicks_ >
                   std::chrono::seconds(timeoutSeconds_)) {
        next = DOWN_STATE_TIMED_OUT;
    }
    if (next == DOWN_STATE_NONE) return false;
    SetState(next);
    Notify();
    return true;
}

void CDownAnt::Execute(void*) {
    // A refused task has nothing to fetch, and no file of its own to create.
    if (state_ != DOWN_STATE_READY) return;
    startTicks_ = std::chrono::steady_clock::now();
    std::string nativePath;
    platform::IFileSystem& files =
        settings_.fileSystem != nullptr ? *settings_.fileSystem : platform::PosixFileSystem();
    // The network delivers pieces of up to 16 KiB: each is written straight through, at
    // its offset, without a buffer of our own.
    const int openError =
        platform::NativePath(localPath_, nativePath)
            ? files.Open(nativePath, platform::FileOpenMode::kCreateReadWrite, file_)
            : EINVAL;
    if (openError != 0) {
        localError_ = openError;
        FormatBounded(message_, sizeof(message_), "本地文件创建失败: %s, Error:%d", localPath_,
                      openError);
        SetState(DOWN_STATE_FILE_CREATE_FAILED);
        Notify();
        return;
    }
    if (AbortCheck()) return;
    if (scheme_ != platform::UrlScheme::Http && scheme_ != platform::UrlScheme::Https) {
        // Only HTTP requests can be opened on a connection of another scheme.
        FormatBounded(message_, sizeof(message_), "(URL scheme check), Error:%d\n", 1);
        SetState(DOWN_STATE_REQUEST_FAILED);
        Notify();
        return;
    }
    SetState(DOWN_STATE_REQUEST_OPENED);
    Notify();
    if (AbortCheck()) return;

    platform::HttpRequest request;
    request.url = canonicalUrl_;
    request.userAgent = kUserAgent;
    request.accept = "*/*";
    request.bypassCaches = true;
    request.rangeStart = rangeStart_;
    request.noDataTimeoutSeconds = settings_.noDataTimeoutSeconds;
    request.connectTimeoutSeconds = settings_.connectTimeoutSeconds;
    request.minimumBytesPerSecond = settings_.minimumBytesPerSecond;
    request.minimumRateWindowSeconds = settings_.minimumRateWindowSeconds;
    request.caFile = settings_.caFile;
    request.proxy = settings_.proxy;
    Finish(platform::HttpGet(request, *this));
}

void CDownAnt::Finish(const platform::HttpResult& result) {
    using platform::HttpOutcome;
    const int code = result.errorCode;
    switch (result.outcome) {
        case HttpOutcome::Aborted:
            return;  // the step that stopped it has set and reported its state
        case HttpOutcome::Complete: {
            // The file is complete only once it is durable: it is about to replace the
            // destination, and a power cut must not leave a renamed empty file there.
            int error = file_->Sync();
            const int closeError = file_->Close();
            file_.reset();
            if (error == 0) error = closeError;
            if (error != 0) return FailWrite(error);
            SetState(DOWN_STATE_COMPLETE);
            break;
        }
        case HttpOutcome::InitFailed:
            FormatBounded(message_, sizeof(message_), "(curl_easy_init), Error:%d\n", code);
            SetState(DOWN_STATE_OPEN_FAILED);
            break;
        case HttpOutcome::SetupFailed:
            FormatBounded(message_, sizeof(message_), "(curl_easy_setopt), Error:%d\n", code);
            SetState(DOWN_STATE_CALLBACK_FAILED);
            break;
        case HttpOutcome::Unsupported:
            FormatBounded(message_, sizeof(message_),
                          "(curl_easy_perform: unsupported scheme), Error:%d\n", code);
            SetState(DOWN_STATE_REQUEST_FAILED);
            break;
        case HttpOutcome::SendFailed:
            FormatBounded(message_, sizeof(message_),
                          "(curl_easy_perform: connect or send), Error:%d\n", code);
            SetState(DOWN_STATE_SEND_FAILED);
            break;
        case HttpOutcome::NoStatus:
            FormatBounded(message_, sizeof(message_),
                          "(curl_easy_perform: no status line), Error:%d\n", code);
            SetState(DOWN_STATE_STATUS_UNREADABLE);
            break;
        case HttpOutcome::TooManyRedirects:
            // The last answer was a redirect, which is not the file.
            SetState(DOWN_STATE_BAD_STATUS);
            break;
        case HttpOutcome::TimedOut:
            SetState(DOWN_STATE_TIMED_OUT);
            break;
        case HttpOutcome::ReadFailed:
            FormatBounded(message_, sizeof(message_), "(curl_easy_perform: receive), Error:%d\n",
                          code);
            SetState(DOWN_STATE_READ_FAILED);
            break;
    }
    Notify();
}

void CDownAnt::OnResolving(const std::string& host) {
    CopyBounded(message_, sizeof(message_), host);
    SetState(DOWN_STATE_RESOLVING);
    Notify();
}

void CDownAnt::OnConnecting() {
    // The lookup is over once a connection is being made.
    SetState(DOWN_STATE_RESOLVED);
    Notify();
    SetState(DOWN_STATE_CONNECTING);
    Notify();
}

void CDownAnt::OnConnected() {
    SetState(DOWN_STATE_CONNECTED);
    Notify();
}

void CDownAnt::OnRedirect(long, const std::string& location) {
    CopyBounded(message_, sizeof(message_), location);
    SetState(DOWN_STATE_REDIRECTED);
    Notify();
}

bool CDownAnt::OnResponse(long status, int64_t contentLength) {
    if (status != 200) {
        if (status == 407 || status == 401) {
            FormatBounded(message_, sizeof(message_), "Authentication errors, Status Code:%d\n",
                          static_cast<int>(status));
        }
        SetState(status == 407   ? DOWN_STATE_PROXY_AUTH_REQUIRED
                 : status == 401 ? DOWN_STATE_AUTH_REQUIRED
                                 : DOWN_STATE_BAD_STATUS);
        Notify();
        return false;
    }
    if (settings_.sizeLimit > 0 && contentLength > settings_.sizeLimit) {
        // Refused on the headers: not a byte of it is written.
        FailTooLarge();
        return false;
    }
    if (contentLength >= 0) {
        sizeKnown_ = 1;
        fileSize_ = contentLength;
        FormatBounded(message_, sizeof(message_), "FileSize: %lld",
                      static_cast<long long>(contentLength));
    }
    SetState(DOWN_STATE_HEADERS_READ);
    Notify();
    if (AbortCheck()) return false;
    received_ = 0;
    if (settings_.bodyObserver != nullptr) settings_.bodyObserver->OnBodyStart();
    SetState(DOWN_STATE_RECEIVING);
    Notify();
    return !AbortCheck();
}

bool CDownAnt::OnBody(const char* data, size_t size) {
    if (size > 0 && ownerResult_ == OWNER_GO_ON) {
        // A body without a length, or longer than it said, ends at the cap.
        if (settings_.sizeLimit > 0 &&
            received_ + static_cast<int64_t>(size) > settings_.sizeLimit) {
            FailTooLarge();
            return false;
        }
        if (const int error = file_->WriteAt(static_cast<uint64_t>(received_), data, size)) {
            FailWrite(error);
            return false;
        }
        received_ += static_cast<int64_t>(size);
        if (settings_.bodyObserver != nullptr) settings_.bodyObserver->OnBodyData(data, size);
        Notify();
    }
    return !AbortCheck();
}

bool CDownAnt::OnTick() {
    // Only the checks matter here: the callback also runs before the response and while
    // nothing arrives.
    return !AbortCheck();
}

}  // namespace DOWNANT
