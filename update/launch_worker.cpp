#include "update/launch_worker.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "axp/error.h"
#include "axp/updater.h"
#include "download/create_downloader.h"
#include "download/part_files.h"
#include "download/progress_format.h"
#include "platform/directory_tree.h"
#include "platform/file.h"
#include "platform/file_system.h"
#include "platform/native_path.h"
#include "platform/process.h"
#include "platform/text_encoding.h"
#include "platform/text_file.h"
#include "update/launch_messages.h"
#include "update/launcher_archive.h"
#include "update/launcher_check.h"
#include "update/message_table.h"
#include "update/release_trust.h"
#include "update/server_list.h"
#include "update/url.h"
#include "update/version_files.h"
#include "update/worker_support.h"

namespace {

constexpr uint32_t kTagFile = 1;
constexpr uint32_t kTagLauncher = 3;
constexpr const char* kPackExtension = ".pak";
constexpr const char* kInstalledLauncherName = "quillgate.exe";
// The new launcher waits in this folder of the download folder for its trial run before
// it is renamed into place.
constexpr const char* kLauncherTrialFolder = "launcher-check";
constexpr const char* kCandidateLauncherName = "quillgate.new";
// URLs are held in buffers of 2084 bytes.
constexpr size_t kMaxUrlLength = 2083;

// The file name at the end of a URL's object: what a package is saved as. Empty when the
// object has none, or when it would name something other than a plain file in the
// download directory.
std::string PackageFileName(const std::string& object) {
    const size_t slash = object.rfind('/');
    std::string name = slash == std::string::npos ? object : object.substr(slash + 1);
    if (name == object || name.empty() || name == "." || name == "..") return std::string();
    std::string utf8;
    if (!platform::GbkToUtf8(name, utf8) || utf8.find('\\') != std::string::npos)
        return std::string();
    return name;
}

// A URL the downloader can be given: within the buffer and of a known scheme.
bool UsableUrl(const std::string& url) {
    UrlParts parts;
    return !url.empty() && url.size() <= kMaxUrlLength && SplitUrl(url, parts) &&
           SchemeText(parts.type) != nullptr;
}

// Whether the pack library refused a package for what the package holds (as opposed to
// this machine failing to write it out): such a copy is worth nothing in the cache.
bool PackageItselfIsBad(uint32_t code) {
    switch (code) {
        case AXP::kErrCorrupt:
        case AXP::kErrZip:
        case AXP::kErrCodec:
        case AXP::kErrInvalidArg:
        case AXP::kErrUnknownCompress:
            return true;
        default:
            return false;
    }
}

// The cache file of one step of the chain: the step's versions and the URL's file name,
// so that two steps never share a file even when their URLs end alike.
std::string StepCacheName(const PatchStep& step, const std::string& fileName) {
    // Tags come from the server: only letters, digits and dots reach a file name.
    auto plain = [](const VersionNumber& v) {
        std::string text = v.tag + "." + v.number;
        for (char& c : text) {
            const bool keep = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                              (c >= '0' && c <= '9') || c == '.';
            if (!keep) c = '_';
        }
        return text;
    };
    return plain(step.from) + "-" + plain(step.to) + "-" + fileName;
}

}  // namespace

CLaunchWorker::CLaunchWorker() = default;

CLaunchWorker::~CLaunchWorker() {
    Join();
    engine_.reset();
    downloader_.reset();
}

void CLaunchWorker::Join() {
    if (thread_.joinable()) thread_.join();
}

bool CLaunchWorker::Start(platform::WindowHandle dialog, AXP::IUpdater* updater,
                          const char* configFileName) {
    dialogWindow_ = dialog;
    configFileName_ = configFileName;
    if (!LoadLauncherConfig(configFileName, config_)) {
        Error(FormatMessage<MessageId::kConfigLoadFailed>());
        return false;
    }
    if (hooks_.configured) hooks_.configured(config_);
    downloader_ = hooks_.createDownloader ? hooks_.createDownloader() : CreateDownloader(0);
    if (downloader_ && hooks_.configureDownloader) hooks_.configureDownloader(*downloader_);
    // A program without the engine fetches its packages over HTTP like every other file.
    if (config_.engine.enabled) engine_ = CreateDownloader(1);
    updater_ = updater;
    pass_ = ClientWorkGate::OfProcess().Enter(ClientWorkGate::Work::Update);
    if (!pass_) {
        Error(FormatMessage<MessageId::kUpdateStartFailed>(
            std::string(GetMessageText(MessageId::kClientBusy))));
        return false;
    }
    result_ = kResultRunning;
    thread_ = std::thread([this] { Run(); });
    return true;
}

void CLaunchWorker::Send(uint32_t message, const std::string& text, const std::string& second) {
    platform::SendMessage(dialogWindow_, message, reinterpret_cast<uintptr_t>(text.c_str()),
                          reinterpret_cast<intptr_t>(second.c_str()));
}

void CLaunchWorker::SendValue(uint32_t message, uintptr_t value) {
    platform::SendMessage(dialogWindow_, message, value, 0);
}

void CLaunchWorker::Status(const std::string& text) { Send(WM_LAUNCH_STATUS, text); }
void CLaunchWorker::Error(const std::string& text) { Send(WM_LAUNCH_ERROR, text); }

void CLaunchWorker::Run() {
    result_ = kResultRunning;
    platform::RegisterWindowClass(kLaunchCommandWindowClass, &CommandWindowProc);
    commandWindow_ = platform::CreateMessageWindow(kLaunchCommandWindowClass);
    platform::SetWindowUserData(commandWindow_, reinterpret_cast<intptr_t>(this));

    // Part files of a killed run are never resumed: they only take space.
    RemoveStalePartFiles(config_.downloadDir);
    RemoveStalePartFiles(config_.downloadDir + "cache");
    RemoveStalePartFiles(".");

    [&] {
        if (!CheckDiskSpace()) {
            result_ = kResultNoDiskSpace;
            return;
        }
        if (!FetchPatchInfo() || !PlanUpdate()) {
            result_ = kResultFailed;
            return;
        }
        const uint32_t selfUpdate = SelfUpdate();
        if (selfUpdate == 2) {
            result_ = kResultLauncherReplaced;
            SendValue(WM_LAUNCH_DONE, 0);
            return;
        }
        if (selfUpdate != 1 && hooks_.commandLineCheck) {
            std::string refusal;
            if (!hooks_.commandLineCheck(refusal)) {
                if (hooks_.showMessage) hooks_.showMessage(refusal);
                platform::PostMessage(dialogWindow_, WM_CLOSE, 0, 0);
                return;
            }
        }
        if (!FetchPatches()) {
            result_ = kResultFailed;
            return;
        }
        if (!ApplyPatches() || !CheckInstalledVersion()) {
            result_ = kResultApplyFailed;
            return;
        }
        if (!FetchServerList()) {
            result_ = kResultFailed;
            return;
        }
        SendValue(WM_LAUNCH_PROGRESS, 100);
        SendValue(WM_LAUNCH_TOTAL_PROGRESS, 100);
        result_ = kResultUpToDate;
        SendValue(WM_LAUNCH_DONE, 0);
    }();

    platform::DestroyMessageWindow(commandWindow_);
    commandWindow_ = platform::kNoWindow;
    if (result_ == kResultUpToDate) pass_.MarkClientUpToDate();
    pass_.Leave();
    if (hooks_.finished) hooks_.finished();
}

bool CLaunchWorker::CheckDiskSpace() {
    std::optional<uint64_t> free;
    if (hooks_.freeDiskBytes) {
        free = hooks_.freeDiskBytes();
    } else {
        std::string exe = platform::GetExecutablePath();
        const size_t slash = exe.rfind('/');
        uint64_t bytes = 0;
        if (slash != std::string::npos &&
            platform::AvailableDiskSpace(platform::Utf8ToGbkLossy(exe.substr(0, slash + 1)), bytes))
            free = bytes;
    }
    if (free && *free <= kRequiredFreeBytes) {
        Error(FormatMessage<MessageId::kNoDiskSpace>());
        return false;
    }
    return true;  // a failed query lets the update go on
}

bool CLaunchWorker::FetchPatchInfo() {
    Status(FormatMessage<MessageId::kFetchingPatchInfo>());
    // A configuration without a source, or with one no downloader takes, is not a
    // network problem: say which it is.
    if (config_.verInfoUrl.empty()) {
        Error(FormatMessage<MessageId::kConfigBad>());
        return false;
    }
    if (!UsableUrl(config_.verInfoUrl)) {
        Error(FormatMessage<MessageId::kDownloadUrlBad>());
        return false;
    }
    if (!platform::CreateDirectoryIfMissing(config_.downloadDir)) {
        Error(FormatMessage<MessageId::kAccessError>(Shown(config_.downloadDir)));
        return false;
    }
    if (!config_.publicKey.empty()) {
        PublicKey key;
        // A key that does not parse must not leave the site unchecked.
        if (!ParsePublicKeyHex(config_.publicKey, key)) {
            Error(FormatMessage<MessageId::kConfigBad>() + " " +
                  FormatMessage<MessageId::kPublicKeyBad>());
            return false;
        }
        publicKey_ = key;
    }
    bool fetched = false;
    if (signedSite()) {
        switch (FetchSigned(SignedRole::PatchInfo, config_.verInfoUrl, config_.patchInfoPath,
                            kPatchInfoMaxBytes, verifiedPatchInfo_)) {
            case SignedFetch::Verified:
                fetched = true;
                break;
            case SignedFetch::NotFetched:
                break;
            case SignedFetch::NotVerified:
                Error(FormatMessage<MessageId::kPatchInfoBad>() + " " +
                      FormatMessage<MessageId::kSignatureBad>("patchinfo.txt"));
                return false;
        }
    } else {
        fetched = DownloadFile(config_.verInfoUrl, config_.patchInfoPath, kTagFile, true, false,
                               kPatchInfoMaxBytes);
    }
    if (!fetched) {
        const std::string local = LocalFailureText(config_.patchInfoPath);
        Error(local.empty() ? FormatMessage<MessageId::kPatchInfoFetchFailed>() : local);
        return false;
    }
    Status(FormatMessage<MessageId::kPatchInfoFetched>());
    return true;
}

CLaunchWorker::SignedFetch CLaunchWorker::FetchSigned(SignedRole role, const std::string& url,
                                                      const std::string& localPath,
                                                      int64_t sizeLimit, std::string& data,
                                                      uint64_t* serial) {
    lastLocalError_ = 0;
    if (!downloader_) return SignedFetch::NotFetched;
    const std::string signaturePath = localPath + kSignatureSuffix;
    bool anyFetched = false;
    for (const std::string& candidate : CandidateUrls(url, true)) {
        downloader_->SetSizeLimit(sizeLimit);
        if (!DownloadAttempt(candidate, localPath, kTagFile, false, nullptr)) {
            if (lastLocalError_ != 0) return SignedFetch::NotFetched;
            continue;
        }
        anyFetched = true;
        // The signature comes from the server that gave the file: a mirror that serves a
        // forged file cannot borrow another server's genuine signature for it.
        downloader_->SetSizeLimit(kSignatureMaxBytes);
        const bool verified =
            DownloadAttempt(SignatureUrl(candidate), signaturePath, kTagFile, false, nullptr) &&
            platform::ReadWholeFile(localPath, data) &&
            SignatureFileVerifies(role, data, signaturePath, *publicKey_, serial);
        platform::DeleteFileAt(signaturePath);
        if (verified) return SignedFetch::Verified;
        data.clear();
        platform::DeleteFileAt(localPath);
        if (lastLocalError_ != 0) return SignedFetch::NotFetched;
    }
    return anyFetched ? SignedFetch::NotVerified : SignedFetch::NotFetched;
}

bool CLaunchWorker::CheckSerial() {
    if (!info_.serial) {
        Error(FormatMessage<MessageId::kPatchInfoBad>());
        return false;
    }
    const uint64_t seen = ReadSeenSerial();
    if (*info_.serial < seen) {
        Error(FormatMessage<MessageId::kPatchInfoBad>() + " " +
              FormatMessage<MessageId::kSerialReplayed>(std::to_string(*info_.serial),
                                                        std::to_string(seen)));
        return false;
    }
    // Kept as soon as it verified: even a run that fails later has seen this release.
    if (*info_.serial > seen && !StoreSeenSerial(*info_.serial)) {
        Error(FormatMessage<MessageId::kAccessError>(kSeenSerialFile));
        return false;
    }
    return true;
}

bool CLaunchWorker::CheckServerListSerial(uint64_t serial) {
    const uint64_t seen = ReadSeenSerial(kSeenServerListSerialFile);
    if (serial < seen) {
        Error(FormatMessage<MessageId::kServerListUnavailable>() + " " +
              FormatMessage<MessageId::kSerialReplayed>(std::to_string(serial),
                                                        std::to_string(seen)));
        return false;
    }
    if (serial > seen && !StoreSeenSerial(serial, kSeenServerListSerialFile)) {
        Error(FormatMessage<MessageId::kAccessError>(kSeenServerListSerialFile));
        return false;
    }
    return true;
}

bool CLaunchWorker::PlanUpdate() {
    if (!ReadVersionFileText(kLocalVersionFile, installedRaw_)) {
        Error(FormatMessage<MessageId::kLocalVersionFileBad>());
        return false;
    }
    installedVersion_ = ParseVersion(installedRaw_);
    const bool parsed = signedSite() ? ParsePatchInfo(verifiedPatchInfo_, info_)
                                     : ReadPatchInfoFile(config_.patchInfoPath, info_);
    if (signedSite()) platform::DeleteFileAt(config_.patchInfoPath);
    if (!parsed) {
        Error(FormatMessage<MessageId::kPatchInfoBad>());
        return false;
    }
    if (signedSite() && !CheckSerial()) return false;
    newLauncherZipPath_ = config_.downloadDir + "quillgate.zip";
    if (ChooseChain(installedVersion_, info_.latestVersion, info_.patches, chain_) !=
        ChainResult::Ok) {
        Error(FormatMessage<MessageId::kNoWayToLatest>());
        return false;
    }
    Send(WM_LAUNCH_STATUS2,
         FormatMessage<MessageId::kVersions>(Shown(info_.latestRaw), Shown(installedRaw_)), "");
    return true;
}

uint32_t CLaunchWorker::SelfUpdate() {
    const CompareResult own =
        CompareVersion(ParseVersion(hooks_.launcherVersion), info_.launcherLatest);
    if (own == CompareResult::Same || own == CompareResult::Newer) return 0;
    if (!hooks_.selfUpdateAllowed) return 0;  // this run replaced the launcher already
    Status(FormatMessage<MessageId::kFetchingLauncher>());
    const PublishedFile* expected = signedSite() ? &info_.launcherArchive : nullptr;
    if (expected && !expected->complete()) {
        Error(FormatMessage<MessageId::kPatchFileBad>(
            "newquillgate.zip", GetMessageText(MessageId::kDigestUnpublished)));
        return 1;
    }
    // A signed archive cannot be longer than published (a size of 0 is no cap: make it 1).
    const int64_t cap =
        expected ? std::min<int64_t>(kLauncherArchiveMaxBytes,
                                     std::max<int64_t>(1, static_cast<int64_t>(*expected->size)))
                 : kLauncherArchiveMaxBytes;
    if (!DownloadFile(info_.newLauncherUrl, newLauncherZipPath_, kTagLauncher, true, false, cap,
                      expected)) {
        if (lastMismatch_) {
            Error(FormatMessage<MessageId::kPatchFileBad>(
                "newquillgate.zip", GetMessageText(MessageId::kDigestMismatch)));
        } else {
            Status(FormatMessage<MessageId::kLauncherFetchFailed>());
        }
        return 1;
    }
    Status(FormatMessage<MessageId::kLauncherDownloaded>());
    std::string launcher;
    switch (ReadArchiveMember(newLauncherZipPath_, kInstalledLauncherName, launcher)) {
        case ArchiveResult::Ok:
            break;
        case ArchiveResult::CannotOpenArchive:
            Error(FormatMessage<MessageId::kNoPatchFile>("New"));
            return 1;
        case ArchiveResult::NoMember:
            Error(FormatMessage<MessageId::kPatchFileBad>("newquillgate.zip", ""));
            return 1;
        case ArchiveResult::ReadFailed:
            Error(FormatMessage<MessageId::kLauncherAccessError>());
            return 1;
    }
    if (!InstallLauncher(launcher)) {
        Error(FormatMessage<MessageId::kLauncherAccessError>());
        return 1;
    }
    Status(FormatMessage<MessageId::kLauncherFetched>());
    return 2;
}

bool CLaunchWorker::InstallLauncher(const std::string& image) {
    // Whatever the archive holds replaces the launcher only once it has shown that it
    // starts here and is the version published: a broken launcher would end every later
    // start of the client, and one that claims an older version would restart forever.
    if (!IsNativeExecutableImage(image)) return false;
    // The trial runs in a folder of its own: a launcher that does not know "--version"
    // (an older build) finds no client there to update, and nothing it leaves stays.
    const std::string trialDir = config_.downloadDir + kLauncherTrialFolder;
    const std::string candidate = trialDir + "\\" + kCandidateLauncherName;
    platform::RemoveDirectoryTree(trialDir);
    std::string nativeDir, nativeCandidate, nativeInstalled, reported;
    bool works =
        platform::CreateDirectoryIfMissing(trialDir) &&
        platform::WriteFileReplacing(candidate, image, /*executable=*/true) &&
        platform::NativePath(trialDir, nativeDir) &&
        platform::NativePath(candidate, nativeCandidate) &&
        platform::NativePath(kInstalledLauncherName, nativeInstalled) &&
        AskLauncherVersion(std::string("./") + kCandidateLauncherName, reported, nativeDir) &&
        CompareVersion(ParseVersion(reported), info_.launcherLatest) == CompareResult::Same;
    // Renamed over the old launcher: a failure keeps the old one whole.
    works = works && platform::PosixFileSystem().Rename(nativeCandidate, nativeInstalled) == 0;
    platform::RemoveDirectoryTree(trialDir);
    return works;
}

bool CLaunchWorker::FetchPatches() {
    auto finish = [&] {
        SendValue(WM_LAUNCH_PROGRESS, 100);
        Status(FormatMessage<MessageId::kDownloadsFinished>());
        Send(WM_LAUNCH_DETAIL, "");
    };
    if (chain_.empty()) {
        finish();
        return true;
    }
    const std::string cacheDir = config_.downloadDir + "cache";
    platform::CreateDirectoryIfMissing(cacheDir);
    if (!updater_->SetTempDirectory(cacheDir.c_str())) {
        Error(FormatMessage<MessageId::kCacheFolderFailed>());
        return false;
    }
    const int n = static_cast<int>(chain_.size());
    for (int k = 1; k <= n; ++k) {
        const PatchStep& step = chain_[static_cast<size_t>(k - 1)];
        UrlParts parts;
        const std::string name = SplitUrl(step.url, parts) ? PackageFileName(parts.object) : "";
        if (name.empty()) {
            Error(FormatMessage<MessageId::kDownloadUrlBad>());
            return false;
        }
        Status(FormatMessage<MessageId::kDownloadingStep>(n, k));
        const std::string local = config_.downloadDir + StepCacheName(step, name);
        const PublishedFile* expected = signedSite() ? &step.package : nullptr;
        if (expected && !expected->complete()) {
            Error(FormatMessage<MessageId::kPackageRefused>(
                Shown(local), -1, GetMessageText(MessageId::kDigestUnpublished)));
            return false;
        }
        if (platform::PathExists(local)) {
            // On a signed site only the published bytes are reused: the digest stands in
            // for the trailer check, which only catches damage.
            const bool reusable = expected ? PackageMatchesPublished(local, *expected)
                                           : platform::FileSizeAtLeast(local, 4) &&
                                                 updater_->VerifyPackageFile(local.c_str());
            if (!reusable) {
                platform::MakeWritable(local);
                if (!platform::DeleteFileAt(local)) {
                    Error(FormatMessage<MessageId::kDeleteFailed>(Shown(local)));
                    return false;
                }
            }
        }
        if (!platform::PathExists(local)) {
            // A signed package cannot be longer than published (0 would mean no cap).
            const int64_t cap =
                expected ? std::max<int64_t>(1, static_cast<int64_t>(*expected->size)) : 0;
            if (!DownloadFile(step.url, local, kTagFile, true, true, cap, expected, &step)) {
                // The website cannot help when this machine could not store the file.
                const std::string localFailure = LocalFailureText(local);
                if (!localFailure.empty()) {
                    Error(localFailure);
                    return false;
                }
                if (lastMismatch_) {
                    Error(FormatMessage<MessageId::kPackageRefused>(
                        Shown(local), -1, GetMessageText(MessageId::kDigestMismatch)));
                    return false;
                }
                Error(FormatMessage<MessageId::kDownloadFailed>(Shown(name)));
                platform::PostMessage(dialogWindow_, WM_LAUNCH_MANUAL_DOWNLOAD, 0, 0);
                return false;
            }
            Status(FormatMessage<MessageId::kDownloaded>(Shown(name)));
        }
        if (!updater_->AddPatchPackage(local.c_str(), kPackExtension)) {
            const uint32_t code = AXP::GetLastErrorCode();
            if (code == AXP::kErrNoSpace) {
                Error(FormatMessage<MessageId::kNoDiskSpace>());
                return false;
            }
            Error(FormatMessage<MessageId::kPackageRefused>(Shown(local), static_cast<int>(code),
                                                            Shown(AXP::GetLastErrorText())));
            // A bad copy would be refused again on every later run: fetch it anew then.
            if (PackageItselfIsBad(code)) {
                platform::MakeWritable(local);
                platform::DeleteFileAt(local);
            }
            return false;
        }
    }
    // No pause here or before applying: they only gave another system time to release
    // file handles, and cost a whole run a tenth of its time.
    finish();
    return true;
}

bool CLaunchWorker::ApplyPatches() {
    if (chain_.empty()) {
        Status(FormatMessage<MessageId::kUpdateSucceeded>());
        SendValue(WM_LAUNCH_TOTAL_PROGRESS, 100);
        return true;
    }
    applyTotal_ = updater_->GetPendingCount();
    applyCounter_ = 0;
    if (hooks_.checkGameRunning && hooks_.checkGameRunning()) {
        Error(FormatMessage<MessageId::kGameRunning>());
        return false;
    }
    Status(FormatMessage<MessageId::kUpdateStarting>());
    Send(WM_LAUNCH_DETAIL, "");
    SendValue(WM_LAUNCH_DISABLE_CLOSE, 0);
    if (!updater_->ApplyPatches(".", kPackExtension, kLocalVersionFile, &ApplyProgress, this)) {
        const uint32_t code = AXP::GetLastErrorCode();
        Error(code == AXP::kErrNoSpace
                  ? FormatMessage<MessageId::kNoDiskSpace>()
                  : FormatMessage<MessageId::kUpdateFailedCode>(static_cast<int>(code),
                                                                Shown(AXP::GetLastErrorText())));
        SendValue(WM_LAUNCH_TOTAL_PROGRESS, 0);
        SendValue(WM_LAUNCH_ENABLE_CLOSE, 0);
        return false;
    }
    Status(FormatMessage<MessageId::kUpdateSucceeded>());
    SendValue(WM_LAUNCH_TOTAL_PROGRESS, 100);
    SendValue(WM_LAUNCH_ENABLE_CLOSE, 0);
    Send(WM_LAUNCH_STATUS2,
         FormatMessage<MessageId::kVersions>(Shown(info_.latestRaw), Shown(info_.latestRaw)), "");
    return true;
}

bool CLaunchWorker::CheckInstalledVersion() {
    // The packages' own ".ver" has the last word: a run ends "up to date" only when the
    // client now says it is the version the chain leads to (the newest, or past it).
    const VersionNumber planned = chain_.empty() ? installedVersion_ : chain_.back().to;
    std::string nowRaw;
    const bool readable = ReadVersionFileText(kLocalVersionFile, nowRaw);
    const VersionNumber now = ParseVersion(nowRaw);
    if (readable && CompareVersion(now, planned) == CompareResult::Same &&
        CompareVersion(now, info_.latestVersion) != CompareResult::Older)
        return true;
    Error(FormatMessage<MessageId::kUpdateFailed>() + " " +
          FormatMessage<MessageId::kVersions>(Shown(info_.latestRaw),
                                              Shown(readable ? nowRaw : "?")));
    return false;
}

void CLaunchWorker::ApplyProgress(void* context, const char*, const char*, uint32_t) {
    auto* self = static_cast<CLaunchWorker*>(context);
    // An empty plan reports no steps; never divide by it.
    const uint32_t total = self->applyTotal_ == 0 ? 1 : self->applyTotal_;
    uint32_t percent = static_cast<uint32_t>(self->applyCounter_ * 100.0 / total + 0.5);
    if (percent > 100) percent = 100;
    ++self->applyCounter_;
    self->Status(FormatMessage<MessageId::kUpdatingFiles>());
    self->SendValue(WM_LAUNCH_TOTAL_PROGRESS, percent);
}

bool CLaunchWorker::FetchServerList() {
    Status(FormatMessage<MessageId::kPreparingGame>());
    // The configuration is read again: the section may name another list than at start.
    LauncherConfig fresh;
    if (!LoadLauncherConfig(configFileName_, fresh)) {
        Error(FormatMessage<MessageId::kConfigLoadFailed>());
        return false;
    }
    config_.serverListUrl = fresh.serverListUrl;
    config_.serverListPath = fresh.serverListPath;
    // Fetched beside the list and put in place only when sound: a failed fetch keeps the
    // last good list for the game.
    const std::string fetched = config_.serverListPath + ".new";
    bool listFetched = false;
    if (config_.serverListUrl.empty()) {
    } else if (signedSite()) {
        std::string data;
        uint64_t serial = 0;
        switch (FetchSigned(SignedRole::ServerList, config_.serverListUrl, fetched,
                            kServerListMaxBytes, data, &serial)) {
            case SignedFetch::Verified:
                if (!CheckServerListSerial(serial)) {
                    platform::DeleteFileAt(fetched);
                    return false;
                }
                listFetched = true;
                break;
            case SignedFetch::NotFetched:
                break;
            case SignedFetch::NotVerified:
                Error(FormatMessage<MessageId::kServerListUnavailable>() + " " +
                      FormatMessage<MessageId::kSignatureBad>("server.lst"));
                return false;
        }
    } else {
        listFetched = DownloadFile(config_.serverListUrl, fetched, kTagFile, true, false,
                                   kServerListMaxBytes);
    }
    if (!listFetched) {
        const std::string local = LocalFailureText(fetched);
        Error(local.empty() ? FormatMessage<MessageId::kServerListUnavailable>() : local);
        return false;
    }
    switch (StoreServerList(fetched, config_.serverListPath)) {
        case ServerListStore::Stored:
            break;
        case ServerListStore::NoList:
            Error(FormatMessage<MessageId::kServerListUnavailable>());
            return false;
        case ServerListStore::CannotWrite:
            Error(
                FormatMessage<MessageId::kServerListUnavailable>() + " " +
                FormatMessage<MessageId::kAccessErrorParenthesised>(Shown(config_.serverListPath)));
            return false;
    }
    Status(FormatMessage<MessageId::kServerListFetched>());
    Send(WM_LAUNCH_DETAIL, "");
    SendValue(WM_LAUNCH_DONE, 0);
    return true;
}

bool CLaunchWorker::DownloadAttempt(CAutoDownload& downloader, const std::string& url,
                                    const std::vector<std::string>& mirrors,
                                    const std::optional<Sha256Digest>& blockList,
                                    const std::string& localPath, uint32_t tag, bool verifyPatch,
                                    const PublishedFile* expected) {
    DigestingObserver digest;
    // Hashed as it streams to disk when the downloader shows its bytes; read back otherwise.
    const bool observed = expected != nullptr && downloader.SetBodyObserver(&digest);
    downloader.SetTask(url.c_str(), localPath.c_str(), commandWindow_, tag);
    if (!mirrors.empty()) downloader.SetMirrors(mirrors);
    if (blockList) downloader.SetBlockListSha256(DigestHex(*blockList));
    active_ = &downloader;
    downloader.Start();
    downloader.Wait(true);
    if (observed) downloader.SetBodyObserver(nullptr);
    const uint32_t state = downloader.GetState();
    bool ok = (state & kDownloadPhaseMask) == kDownloadPhaseFinished;
    lastLocalError_ = ok ? 0 : downloader.GetLocalError();
    // A body longer than the published size is cut at the cap: it is not the file either.
    if (expected != nullptr && state == DOWNLOAD_FAILED_TOO_LARGE) lastMismatch_ = true;
    if (ok && expected != nullptr) {
        bool matches = false;
        if (observed) {
            const uint64_t bytes = digest.bytes();  // before Finish starts a new digest
            matches = MatchesPublished(*expected, bytes, digest.Finish());
        } else {
            matches = PackageMatchesPublished(localPath, *expected);
        }
        if (!matches) {
            lastMismatch_ = true;
            platform::MakeWritable(localPath);
            platform::DeleteFileAt(localPath);
            ok = false;
        }
    }
    // A package whose SHA-256 is the published one is the operator's file to the byte: the
    // trailer check would read it all again for nothing.
    if (ok && verifyPatch && expected == nullptr) {
        ok = platform::FileSizeAtLeast(localPath, 5) &&
             updater_->VerifyPackageFile(localPath.c_str());
    }
    downloader.Reset();
    if (&downloader == downloader_.get() && hooks_.configureDownloader)
        hooks_.configureDownloader(downloader);
    return ok;
}

bool CLaunchWorker::DownloadFile(const std::string& url, const std::string& localPath, uint32_t tag,
                                 bool useBackupServers, bool verifyPatch, int64_t sizeLimit,
                                 const PublishedFile* expected, const PatchStep* package) {
    lastLocalError_ = 0;
    lastMismatch_ = false;
    CAutoDownload* downloader = package && engine_ ? engine_.get() : downloader_.get();
    if (!downloader) return false;
    downloader->SetSizeLimit(sizeLimit);
    // Only a signed site vouches for the package's block list.
    std::optional<Sha256Digest> blockList;
    if (package && signedSite()) blockList = package->blockListSha256;
    const std::vector<std::string> candidates = CandidateUrls(url, useBackupServers);
    for (size_t i = 0; i < candidates.size(); ++i) {
        // Through the engine every attempt fetches from all servers at once; a later one
        // only puts another server first, whose block list then counts.
        std::vector<std::string> mirrors;
        if (downloader == engine_.get())
            for (size_t j = 0; j < candidates.size(); ++j)
                if (j != i) mirrors.push_back(candidates[j]);
        if (DownloadAttempt(*downloader, candidates[i], mirrors, blockList, localPath, tag,
                            verifyPatch, expected))
            return true;
        // Another server cannot mend a full or unwritable disk.
        if (lastLocalError_ != 0) return false;
    }
    return false;
}

std::vector<std::string> CLaunchWorker::CandidateUrls(const std::string& url,
                                                      bool useBackupServers) const {
    if (!useBackupServers) return {url};
    return UrlOnEveryServer(url, config_.backupServers);
}

bool CLaunchWorker::PackageMatchesPublished(const std::string& path,
                                            const PublishedFile& published) const {
    Sha256Digest digest;
    uint64_t size = 0;
    return Sha256OfFile(path, digest, size) && MatchesPublished(published, size, digest);
}

std::string CLaunchWorker::LocalFailureText(const std::string& localPath) const {
    if (lastLocalError_ == 0) return std::string();
    if (lastLocalError_ == ENOSPC || lastLocalError_ == EDQUOT)
        return FormatMessage<MessageId::kNoDiskSpace>();
    return FormatMessage<MessageId::kAccessErrorBecause>(Shown(localPath),
                                                         std::strerror(lastLocalError_));
}

intptr_t CLaunchWorker::CommandWindowProc(platform::WindowHandle window, uint32_t message,
                                          uintptr_t wParam, intptr_t lParam) {
    auto* self = reinterpret_cast<CLaunchWorker*>(platform::GetWindowUserData(window));
    if (self == nullptr) return platform::DefWindowProc(window, message, wParam, lParam);
    if (message == WM_DOWNLOAD_FIRST || message == WM_DOWNLOAD_STATE) return 1;
    if (message != WM_DOWNLOAD_PROGRESS)
        return platform::DefWindowProc(window, message, wParam, lParam);

    CAutoDownload* downloader = self->active_ ? self->active_ : self->downloader_.get();
    int64_t total = 0, done = 0;
    // A transfer of unknown length has no percentage.
    if (downloader->GetProgress(total, done) && total > 0) {
        self->SendValue(WM_LAUNCH_PROGRESS, static_cast<uintptr_t>(done * 100.0 / total));
    }
    const uint64_t now = TickMilliseconds();
    if (now - self->lastDetailTick_ > 1000) {
        self->Send(WM_LAUNCH_DETAIL, FormatMessage<MessageId::kDownloadProgress>(
                                         FormatByteSize(done), FormatByteSize(total),
                                         FormatByteSize(downloader->GetSpeed())));
        self->lastDetailTick_ = now;
    }
    return 1;
}
