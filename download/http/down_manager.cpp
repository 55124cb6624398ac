#include "download/http/down_manager.h"

#include <cstring>

#include "download/http/bounded_text.h"
#include "download/part_files.h"
#include "platform/file.h"
#include "platform/http_url.h"
#include "platform/messages.h"
#include "platform/native_path.h"
#include "platform/text_encoding.h"

namespace DOWNANT {
namespace {

constexpr int64_t kBlock = 4096;

uint32_t PhaseOfManagerState(uint32_t state) {
    switch (state) {
        case MANAGER_STARTED:
        case MANAGER_LOOKING_UP:
        case MANAGER_ASSEMBLING:
            return 1;
        case MANAGER_DONE:
            return 2;
        case MANAGER_ASSEMBLE_FAILED:
        case MANAGER_TRANSFER_FAILED:
        case MANAGER_TOO_LARGE:
            return 3;
        default:
            return 0;
    }
}

}  // namespace

CDownManager::CDownManager() = default;

CDownManager::~CDownManager() {
    Stop(true);
    // A transfer that never ran has left nothing; one that ran has removed or renamed its
    // part on its way out.
}

void CDownManager::Call(uint32_t kind, uintptr_t a, uintptr_t b) {
    if (ownerCallback_ != nullptr) ownerCallback_(ownerContext_, kind, a, b);
}

void CDownManager::Text(const char* gbk) {
    CopyBounded(message_, sizeof(message_), gbk);
    Call(MANAGER_TEXT, 0, reinterpret_cast<uintptr_t>(message_));
}

void CDownManager::ChangeState(uint32_t state) {
    const uint32_t phase = PhaseOfManagerState(state);
    state_.store(state);
    phase_.store(phase);
    // The destination is never touched here: it is replaced by a complete part or kept
    // as it was.
    if (phase == 3 && !partNativePath_.empty()) platform::PosixFileSystem().Remove(partNativePath_);
    Call(MANAGER_STATE_CHANGED, phase, state);
}

bool CDownManager::SetTask(const char* url, const char* destination, OwnerCallback callback,
                           void* ownerContext) {
    const std::string_view urlText = url ? url : "";
    const std::string_view destinationText = destination ? destination : "";
    // Cutting either to its buffer would fetch or write another file: such a task is refused.
    const bool fits = CopyBounded(url_, sizeof(url_), urlText) &
                      CopyBounded(destination_, sizeof(destination_), destinationText);
    ownerCallback_ = callback;
    ownerContext_ = ownerContext;
    if (urlText.empty() || destinationText.empty()) {
        FormatBounded(message_, sizeof(message_), "下载地址和本地文件地址不能为空");
        ChangeState(MANAGER_BAD_ADDRESS);
        return false;
    }
    platform::HttpUrl parsed;
    partNativePath_.clear();
    if (!fits || !platform::ParseDownloadUrl(urlText, 260, 2084, parsed)) {
        FormatBounded(message_, sizeof(message_), "非法的下载地址: %s", url_);
        ChangeState(MANAGER_BAD_ADDRESS);
        return false;
    }
    // The part lies beside the destination: renaming it over the destination is then one
    // step on one file system, and a run that was killed leaves it where the next run
    // looks for it (RemoveStalePartFiles).
    std::string partGbk;
    if (!platform::NativePath(destination_, destinationNativePath_) ||
        !platform::Utf8ToGbk(destinationNativePath_ + kDownloadPartSuffix, partGbk) ||
        !CopyBounded(part_.path, sizeof(part_.path), partGbk)) {
        FormatBounded(message_, sizeof(message_), "非法的下载地址: %s", destination_);
        ChangeState(MANAGER_BAD_ADDRESS);
        return false;
    }
    partNativePath_ = destinationNativePath_ + kDownloadPartSuffix;
    ChangeState(MANAGER_READY);

    pool_.Start();
    return true;
}

void CDownManager::Start(bool wait) {
    auto* transfer = new CDownAnt(0);
    transfer->SetOwned(1);
    transfer->SetSettings(settings_);
    localError_.store(0);
    {
        std::lock_guard<std::mutex> lock(partLock_);
        part_.transfer = transfer;
    }
    part_.firstBlock = 0;
    part_.endBlock = 0;
    part_.blockReached = -1;
    partCount_ = 0;
    totalSize_.store(0);
    receivedEstimate_.store(0);
    speed_.store(0);
    const bool accepted = transfer->SetTask(url_, part_.path, &CDownManager::OnTransferEvent, this);
    Call(MANAGER_PART_CREATED, 0, reinterpret_cast<uintptr_t>(transfer));
    // Running before the pool can report anything, and no end left over from an earlier
    // download that nobody waited for.
    doneEvent_.Reset();
    ChangeState(MANAGER_STARTED);
    // A refused transfer would never run, and so never end: it fails here instead.
    if (!accepted || !pool_.Submit(transfer)) {
        EndPart();
        delete transfer;
        TransferFailed();
    }
    if (wait) doneEvent_.Wait();
}

void CDownManager::Stop(bool shutDown) {
    {
        std::lock_guard<std::mutex> lock(partLock_);
        // The transfer is asked to stop in every phase: a stop that waited for the
        // response headers would let the download run on after the caller gave it up.
        if (part_.transfer != nullptr) part_.transfer->RequestStop();
    }
    if (shutDown) {
        partCount_ = 0;
        pool_.Shutdown();
    }
}

bool CDownManager::Wait(bool pumpMessages) {
    if (!pumpMessages) return doneEvent_.TryWait();
    platform::WaitPumpingMessages(doneEvent_);
    return true;
}

uint32_t CDownManager::OnTransferEvent(void* context, CDownAnt* transfer) {
    return static_cast<CDownManager*>(context)->HandleTransferEvent(transfer);
}

void CDownManager::EndPart() {
    std::lock_guard<std::mutex> lock(partLock_);
    part_.transfer = nullptr;
}

uint32_t CDownManager::HandleTransferEvent(CDownAnt* transfer) {
    std::lock_guard<std::mutex> lock(lock_);
    if (transfer->PartIndex() != 0) return OWNER_ABORT;
    const uint32_t phase = transfer->Phase();
    const uint32_t state = transfer->State();
    char text[260];
    if (phase == 0 && state == DOWN_STATE_READY) {
        FormatBounded(text, sizeof(text), "初始化成功");
        Text(text);
    } else if (phase == 1) {
        switch (state) {
            case DOWN_STATE_RESOLVING:
                ChangeState(MANAGER_LOOKING_UP);
                FormatBounded(text, sizeof(text), "查找服务器: %s...", transfer->Host());
                Text(text);
                break;
            case DOWN_STATE_CONNECTING:
                FormatBounded(text, sizeof(text), "连接服务器: %s...", transfer->Host());
                Text(text);
                break;
            case DOWN_STATE_CONNECTED:
                FormatBounded(text, sizeof(text), "连接服务器成功!");
                Text(text);
                break;
            case DOWN_STATE_REDIRECTED:
                FormatBounded(text, sizeof(text), "文件重新定位");
                Text(text);
                break;
            case DOWN_STATE_HEADERS_READ:
                totalSize_.store(transfer->FileSize());
                partCount_ = 1;
                startTicks_ = std::chrono::steady_clock::now();
                Call(MANAGER_SIZE_KNOWN, static_cast<uint32_t>(transfer->FileSize()),
                     partCount_.load());
                break;
            case DOWN_STATE_RECEIVING:
                return OnProgress(transfer);
            default:
                break;
        }
    } else if (phase == 2) {
        EndPart();
        Assemble();
    } else if (phase == 3) {
        EndPart();
        localError_.store(transfer->LocalError());
        TransferFailed(state == DOWN_STATE_TOO_LARGE ? MANAGER_TOO_LARGE : MANAGER_TRANSFER_FAILED);
    }
    return OWNER_GO_ON;
}

uint32_t CDownManager::OnProgress(CDownAnt* transfer) {
    const int64_t received = transfer->Received();
    if (received == 0) {
        char text[260];
        FormatBounded(text, sizeof(text), "开始下载文件");
        Text(text);
    }
    part_.blockReached = part_.firstBlock + (received + kBlock - 1) / kBlock;
    // Counted from the bytes actually written: the network's pieces are rarely 4 KiB.
    int64_t reached = part_.firstBlock * kBlock + received;
    const int64_t total = totalSize_.load();
    if (total > 0 && reached > total) reached = total;
    receivedEstimate_.store(reached);
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
                             std::chrono::steady_clock::now() - startTicks_)
                             .count();
    speed_.store(elapsed <= 0
                     ? 0
                     : static_cast<uint32_t>(static_cast<double>(reached) / (elapsed / 1000.0)));
    Call(MANAGER_PROGRESS, 0, static_cast<uint32_t>(part_.firstBlock * kBlock + received));
    if (part_.endBlock > 0 && part_.blockReached >= part_.endBlock) return OWNER_STOP_COMPLETE;
    return OWNER_GO_ON;
}

void CDownManager::Assemble() {
    if (copying_ != 0) return;
    copying_ = 1;
    ChangeState(MANAGER_ASSEMBLING);
    const int error = platform::PosixFileSystem().Rename(partNativePath_, destinationNativePath_);
    const bool placed = error == 0;
    localError_.store(error);
    copying_ = 0;
    char text[260];
    if (placed) {
        ChangeState(MANAGER_DONE);
        FormatBounded(text, sizeof(text), "下载结束");
    } else {
        // A destination that could not be written is a failed download, never "done".
        ChangeState(MANAGER_ASSEMBLE_FAILED);
        FormatBounded(text, sizeof(text), "下载失败");
    }
    Text(text);
    doneEvent_.Set();
}

void CDownManager::TransferFailed(uint32_t state) {
    ChangeState(state);
    char text[260];
    FormatBounded(text, sizeof(text), "下载失败");
    Text(text);
    doneEvent_.Set();
}

}  // namespace DOWNANT
