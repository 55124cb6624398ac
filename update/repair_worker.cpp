#include "update/repair_worker.h"

#include <chrono>
#include <string_view>

#include "axp/catalogue.h"
#include "axp/compress.h"
#include "axp/crc.h"
#include "axp/error.h"
#include "axp/pack_file.h"
#include "axp/stream.h"
#include "axp/updater.h"
#include "axp/zip_reader.h"
#include "download/create_downloader.h"
#include "download/part_files.h"
#include "download/progress_format.h"
#include "platform/file_system.h"
#include "platform/text_encoding.h"
#include "platform/text_file.h"
#include "update/message_table.h"
#include "update/release_trust.h"
#include "update/url.h"
#include "update/version_files.h"
#include "update/worker_support.h"

namespace {

constexpr uint32_t kTagFile = 1;
constexpr const char* kLocalPatchExtension = ".patch";
constexpr const char* kConvertedExtension = ".~patch";
// Posted to the command window by SignalStop: the download under way is stopped on the
// repair thread, which pumps its messages while it waits for the download.
constexpr uint32_t kStopDownloadMessage = platform::WM_USER + 0x64;
// A pack that cannot be opened waits under this suffix until its replacement is complete.
constexpr const char* kSetAsideSuffix = ".~unreadable";

// Process-wide, as the download texts of every repair share one clock.
std::atomic<uint64_t> g_lastDownloadText{0};

// The last component of a GBK path ("\" or "/" separated).
std::string FileNameOf(const std::string& path) {
    const std::string unified = NormalisePath(path, false, true);
    const size_t slash = unified.rfind('/');
    return slash == std::string::npos ? unified : unified.substr(slash + 1);
}

// The folder part of a GBK path, empty when it has none.
std::string FolderOf(const std::string& path) {
    const std::string unified = NormalisePath(path, false, true);
    const size_t slash = unified.rfind('/');
    return slash == std::string::npos ? std::string() : unified.substr(0, slash);
}

bool HasExtensionNoCase(const std::string& name, std::string_view extension) {
    if (name.size() < extension.size()) return false;
    for (size_t i = 0; i < extension.size(); ++i) {
        char c = name[name.size() - extension.size() + i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
        if (c != extension[i]) return false;
    }
    return true;
}

uint32_t RoundedPercent(uint64_t part, uint64_t whole) {
    if (whole == 0) return 100;  // nothing to weigh: every check is complete
    return static_cast<uint32_t>(static_cast<double>(part) * 100.0 / static_cast<double>(whole) +
                                 0.5);
}

// A file the system would run: an ELF image or a script. A restored file that was missing
// gets the run bit only then; one that existed keeps the mode it had.
bool LooksRunnable(const std::string& path) {
    std::string head;
    if (!platform::ReadFirstLine(path, 4, head)) return false;
    return head ==
               "\x7f"
               "ELF" ||
           head.rfind("#!", 0) == 0;
}

// Whether the library's refusal of an entry means the entry is damaged or absent (restore
// it) rather than that this machine failed to read it.
bool EntryItselfIsBad(uint32_t code) {
    return code == AXP::kErrNotFound || code == AXP::kErrCorrupt ||
           code == AXP::kErrUnknownCompress || code == AXP::kErrCodec;
}

}  // namespace

CRepairWorker::CRepairWorker() = default;

CRepairWorker::~CRepairWorker() {
    SignalStop();
    Join();
    engine_.reset();
    downloader_.reset();
}

void CRepairWorker::Join() {
    if (!thread_.joinable()) return;
    // The thread may be inside a send to a window of this thread: handle it meanwhile.
    platform::WaitHandlingSends(ended_);
    thread_.join();
}

bool CRepairWorker::Start(platform::WindowHandle dialog, AXP::IUpdater* updater,
                          const LauncherConfig& config) {
    if (running_.load() || config.repairUrl.empty() || updater == nullptr) return false;
    Join();
    pass_ = ClientWorkGate::OfProcess().Enter(ClientWorkGate::Work::Repair);
    if (!pass_) return false;  // another writer holds the client's packs
    dialogWindow_ = dialog;
    updater_ = updater;
    repairUrl_ = config.repairUrl;
    backupServers_ = config.backupServers;
    workDir_ = config.downloadDir;
    cacheDir_ = workDir_ + "cache\\";
    publicKey_.reset();
    publicKeyBad_ = false;
    if (!config.publicKey.empty()) {
        PublicKey key;
        // A key that does not parse must not leave the list unchecked.
        if (ParsePublicKeyHex(config.publicKey, key))
            publicKey_ = key;
        else
            publicKeyBad_ = true;
    }
    platform::CreateDirectoryIfMissing(workDir_);
    platform::CreateDirectoryIfMissing(cacheDir_);
    if (!downloader_) {
        downloader_ = hooks_.createDownloader ? hooks_.createDownloader() : CreateDownloader(0);
        if (downloader_ && hooks_.configureDownloader) hooks_.configureDownloader(*downloader_);
    }
    if (!config.engine.enabled)
        engine_.reset();
    else if (!engine_)
        engine_ = CreateDownloader(1);  // none in a program without the engine: HTTP then
    stopEvent_.Reset();
    ended_.Reset();
    completed_ = false;
    repairedCount_ = 0;
    running_ = true;
    thread_ = std::thread([this] { Run(); });
    return true;
}

void CRepairWorker::Send(uint32_t message, const std::string& text) {
    platform::SendMessage(dialogWindow_, message, reinterpret_cast<uintptr_t>(text.c_str()), 0);
}

void CRepairWorker::SendValue(uint32_t message, uintptr_t value) {
    platform::SendMessage(dialogWindow_, message, value, 0);
}

bool CRepairWorker::Stopped() { return stopEvent_.TryWait(); }

void CRepairWorker::SignalStop() {
    stopEvent_.Set();
    const platform::WindowHandle window = commandWindow_.load();
    if (window != platform::kNoWindow) platform::PostMessage(window, kStopDownloadMessage, 0, 0);
}

void CRepairWorker::Run() {
    [&] {
        if (hooks_.checkGameRunning && hooks_.checkGameRunning()) {
            Error(FormatMessage<MessageId::kGameRunning>());
            return;
        }
        platform::RegisterWindowClass(kRepairCommandWindowClass, &CommandWindowProc);
        const platform::WindowHandle window =
            platform::CreateMessageWindow(kRepairCommandWindowClass);
        platform::SetWindowUserData(window, reinterpret_cast<intptr_t>(this));
        commandWindow_ = window;
        // A stop asked for before the window existed still counts: each step looks first.
        // Part files of a killed run are never resumed: they only take space.
        RemoveStalePartFiles(cacheDir_);
        if (LoadFileList() && CheckLooseFiles() && CheckPackFiles()) {
            completed_ = true;
            SendValue(WM_REPAIR_DONE, 0);
        }
        commandWindow_ = platform::kNoWindow;
        platform::DestroyMessageWindow(window);
    }();
    // Converted packages are of no use to a later run, which converts afresh.
    for (const auto& [time, patch] : localPatches_)
        if (!patch.converted.empty()) platform::DeleteFileAt(patch.converted);
    localPatches_.clear();
    pass_.Leave();
    running_ = false;
    if (hooks_.finished) hooks_.finished();
    ended_.Set();
}

bool CRepairWorker::LoadFileList() {
    list_ = RepairList();
    checkedVolume_ = 0;
    examined_ = 0;
    repairedCount_ = 0;
    localPatches_.clear();
    Send(WM_REPAIR_DETAIL, FormatMessage<MessageId::kAnalysingLocalFiles>());
    Send(WM_REPAIR_STATUS, "");
    SendValue(WM_REPAIR_PROGRESS, 0);
    SendValue(WM_REPAIR_TOTAL_PROGRESS, 0);

    std::vector<platform::DirectoryEntry> entries;
    platform::ListDirectory(workDir_, entries);
    for (const platform::DirectoryEntry& e : entries) {
        if (e.isDirectory || e.gbkName.empty() || e.gbkName[0] == '.' ||
            !HasExtensionNoCase(e.gbkName, kLocalPatchExtension))
            continue;
        platform::FileFacts facts;
        if (!platform::GetFileFacts(workDir_ + e.gbkName, facts)) continue;
        localPatches_.emplace(facts.lastWriteNs, LocalPatch{workDir_ + e.gbkName, "", false});
    }

    installedRaw_.clear();
    installedVersion_.reset();
    if (ReadVersionFileText(kLocalVersionFile, installedRaw_)) {
        const VersionNumber version = ParseVersion(installedRaw_);
        if (!version.number.empty()) installedVersion_ = version;
    }

    const std::string listPath = workDir_ + kRepairListName;
    if (publicKeyBad_) {
        Error(FormatMessage<MessageId::kConfigBad>() + " " +
              FormatMessage<MessageId::kPublicKeyBad>());
        return false;
    }
    if (!RepairDownload(kRepairListName, listPath, kTagFile, kRepairListMaxBytes)) {
        if (Stopped()) return false;
        Error(FormatMessage<MessageId::kPatchInfoBad>());
        return false;
    }
    std::string text;
    const bool read = platform::ReadWholeFile(listPath, text).ok();
    platform::DeleteFileAt(listPath);
    if (!read) return RefuseList("");
    RepairDigests digests;
    if (publicKey_ && !LoadDigests(digests)) return false;
    if (ParseRepairList(text, list_) != RepairListResult::Ok ||
        (publicKey_ && !AttachRepairDigests(text, digests, list_))) {
        list_ = RepairList();
        return RefuseList("");
    }
    return true;
}

bool CRepairWorker::RefuseList(const std::string& reason) {
    Error(FormatMessage<MessageId::kLocalVersionFileBad>() + (reason.empty() ? "" : " " + reason));
    Send(WM_REPAIR_DETAIL, FormatMessage<MessageId::kGoToOperatorSite>());
    return false;
}

bool CRepairWorker::LoadDigests(RepairDigests& digests) {
    std::string text, signature;
    const bool fetched = FetchSiteFile(kRepairDigestsName, kRepairDigestsMaxBytes, text) &&
                         FetchSiteFile(std::string(kRepairDigestsName) + kSignatureSuffix,
                                       kSignatureMaxBytes, signature);
    if (Stopped()) return false;
    if (!fetched || !SignatureTextVerifies(SignedRole::RepairList, text, signature, *publicKey_))
        return RefuseList(FormatMessage<MessageId::kSignatureBad>(kRepairDigestsName));
    if (!ParseRepairDigests(text, digests)) return RefuseList("");
    // Bound to its release: an older release's list, validly signed as it is, must not
    // take the client back.
    const uint64_t seen = ReadSeenSerial();
    if (digests.serial < seen)
        return RefuseList(FormatMessage<MessageId::kSerialReplayed>(std::to_string(digests.serial),
                                                                    std::to_string(seen)));
    if (installedVersion_) {
        const CompareResult order =
            CompareVersion(ParseVersion(digests.version), *installedVersion_);
        if (order != CompareResult::Same && order != CompareResult::Newer)
            return RefuseList(FormatMessage<MessageId::kVersions>(digests.version, installedRaw_));
    }
    return true;
}

bool CRepairWorker::FetchSiteFile(const std::string& relativePath, int64_t sizeLimit,
                                  std::string& data) {
    data.clear();
    if (!downloader_) return false;
    const std::string localPath = workDir_ + FileNameOf(relativePath);
    const std::string url = repairUrl_ + EscapeUrl(relativePath);
    downloader_->SetSizeLimit(sizeLimit);
    downloader_->SetTask(url.c_str(), localPath.c_str(), commandWindow_.load(), kTagFile);
    downloader_->Start();
    downloader_->Wait(true);
    const bool fetched = (downloader_->GetState() & kDownloadPhaseMask) == kDownloadPhaseFinished;
    downloader_->Reset();
    if (hooks_.configureDownloader) hooks_.configureDownloader(*downloader_);
    const bool read = fetched && platform::ReadWholeFile(localPath, data).ok();
    platform::DeleteFileAt(localPath);
    return read;
}

void CRepairWorker::ShowChecking() {
    ++examined_;
    Send(WM_REPAIR_DETAIL, FormatMessage<MessageId::kCheckingFiles>(
                               static_cast<int>(examined_), static_cast<int>(list_.entryCount)));
}

void CRepairWorker::FailFile(const std::string& path) {
    Error(FormatMessage<MessageId::kRepairFailed>(Shown(path)) +
          (failReason_.empty() ? "" : " " + failReason_));
    failReason_.clear();
    Send(WM_REPAIR_DETAIL, FormatMessage<MessageId::kGoToOperatorSite>());
}

void CRepairWorker::FailWithCode() {
    Error(FormatMessage<MessageId::kRepairFailedCode>(static_cast<int>(AXP::GetLastErrorCode()),
                                                      Shown(AXP::GetLastErrorText())));
    Send(WM_REPAIR_DETAIL, FormatMessage<MessageId::kGoToOperatorSite>());
}

bool CRepairWorker::CheckLooseFiles() {
    for (const RepairEntry& entry : list_.looseFiles) {
        if (Stopped()) return false;
        ShowChecking();
        platform::FileFacts facts;
        uint32_t crc = 0;
        // The size first: a file of the wrong length is not read at all.
        const bool good = platform::GetFileFacts(entry.path, facts) && facts.size == entry.size &&
                          updater_->ComputeFileCrc(entry.path, crc, false) && crc == entry.crc;
        if (!good) {
            failReason_.clear();
            if (!RestoreFile(entry)) {
                if (!Stopped()) FailFile(entry.path);
                return false;
            }
            ++repairedCount_;
        }
        AddCheckedVolume(entry.size);
    }
    return true;
}

bool CRepairWorker::RestoreFile(const RepairEntry& entry) {
    const std::string folder = FolderOf(entry.path);
    if (!folder.empty() && !AXP::CreateDirectoryChain(folder)) return false;
    platform::FileFacts replaced;
    const bool existed = platform::GetFileFacts(entry.path, replaced).ok();
    const std::string temp = cacheDir_ + FileNameOf(entry.path);
    if (entry.size == 0) {
        if (!platform::WriteFileReplacing(temp, "")) return false;
    } else if (!FetchContent(entry, "", temp)) {
        return false;
    }
    // A restored file keeps the mode of the one it replaces: a game binary or script
    // must still run.
    const uint32_t mode = existed ? replaced.mode : LooksRunnable(temp) ? 0755 : 0644;
    // Written beside the destination and renamed over it: never half a file.
    const bool restored = !TakesVersionBack(entry, temp) &&
                          platform::SetFileMode(temp, mode).ok() &&
                          platform::CopyFileOver(temp, entry.path).ok();
    platform::DeleteFileAt(temp);
    return restored;
}

bool CRepairWorker::TakesVersionBack(const RepairEntry& entry, const std::string& temp) {
    if (!installedVersion_ ||
        RepairEntryKey("", entry.path) != RepairEntryKey("", kLocalVersionFile))
        return false;
    std::string raw;
    ReadVersionFileText(temp, raw);
    const CompareResult order = CompareVersion(ParseVersion(raw), *installedVersion_);
    if (order == CompareResult::Same || order == CompareResult::Newer) return false;
    failReason_ = FormatMessage<MessageId::kVersions>(Shown(raw), Shown(installedRaw_));
    return true;
}

bool CRepairWorker::IsPublishedContent(const std::string& path, const RepairEntry& entry) {
    platform::FileFacts facts;
    uint32_t crc = 0;
    // The size first: a file of the wrong length is not read at all.
    if (!platform::GetFileFacts(path, facts) || facts.size != entry.size ||
        !updater_->ComputeFileCrc(path, crc, false) || crc != entry.crc)
        return false;
    if (!entry.sha256) return true;
    // The CRC is linear: anyone can give a file the listed size and CRC. A signed site's
    // SHA-256 cannot be met so.
    Sha256Digest digest;
    uint64_t size = 0;
    if (Sha256OfFile(path, digest, size) && size == entry.size && digest == *entry.sha256)
        return true;
    failReason_ = GetMessageText(MessageId::kDigestMismatch);
    return false;
}

bool CRepairWorker::FetchContent(const RepairEntry& entry, const std::string& packName,
                                 const std::string& temp) {
    if (RestoreFromLocalPatches(entry, packName, temp)) {
        failReason_.clear();
        return true;
    }
    // Published under "/" separators, whichever the list or the pack's catalogue uses.
    const std::string relative =
        NormalisePath(packName.empty() ? entry.path : packName + "/" + entry.path, false, true);
    // The list gives the size: a longer answer is not the file.
    if (!RepairDownload(relative, temp, kTagFile, static_cast<int64_t>(entry.size), true))
        return false;
    if (IsPublishedContent(temp, entry)) {
        failReason_.clear();
        return true;
    }
    platform::DeleteFileAt(temp);
    return false;
}

bool CRepairWorker::RestoreFromLocalPatches(const RepairEntry& entry, const std::string& packName,
                                            const std::string& temp) {
    if (localPatches_.empty()) return false;
    Send(WM_REPAIR_DETAIL, GetMessageText(MessageId::kRepairSpinnerFirst));
    SendValue(WM_REPAIR_PROGRESS, MARQUEE_ON);
    const std::string member =
        NormalisePath(packName.empty() ? entry.path : packName + "/" + entry.path, false, true);
    // Packages made by the diff name a pack's members by entry name alone.
    const std::string bareMember = NormalisePath(entry.path, false, true);
    bool found = false;
    for (auto& [time, patch] : localPatches_) {
        if (patch.conversionFailed) continue;
        if (patch.converted.empty()) {
            std::string name = FileNameOf(patch.path);
            name = name.substr(0, name.size() - std::string_view(kLocalPatchExtension).size());
            const std::string converted = cacheDir_ + name + kConvertedExtension;
            // Each package is converted once per run, whatever the outcome.
            if (!updater_->ConvertPackageForm(patch.path, converted)) {
                patch.conversionFailed = true;
                platform::DeleteFileAt(converted);
                continue;
            }
            patch.converted = converted;
        }
        // Copied out in chunks: a member may be as large as the list allows.
        AXP::ZipMemberResult read =
            AXP::ExtractZipMember(patch.converted, member, entry.size, temp);
        if (read == AXP::ZipMemberResult::kNoMember && !packName.empty())
            read = AXP::ExtractZipMember(patch.converted, bareMember, entry.size, temp);
        if (read == AXP::ZipMemberResult::kOk && IsPublishedContent(temp, entry)) {
            found = true;
            break;
        }
        platform::DeleteFileAt(temp);
    }
    Send(WM_REPAIR_DETAIL, "");
    SendValue(WM_REPAIR_PROGRESS, MARQUEE_OFF);
    return found;
}

bool CRepairWorker::RepairDownload(const std::string& relativePath, const std::string& localPath,
                                   uint32_t tag, int64_t sizeLimit, bool viaEngine) {
    CAutoDownload* downloader = viaEngine && engine_ ? engine_.get() : downloader_.get();
    if (!downloader) return false;
    // Only the relative part is escaped: the site's own address is used as configured.
    const std::string url = repairUrl_ + EscapeUrl(relativePath);
    Send(WM_REPAIR_DETAIL, FormatMessage<MessageId::kFetchingFromServer>(Shown(relativePath)));
    downloader->SetSizeLimit(sizeLimit);
    downloader->SetTask(url.c_str(), localPath.c_str(), commandWindow_.load(), tag);
    if (downloader == engine_.get()) {
        std::vector<std::string> mirrors = UrlOnEveryServer(url, backupServers_);
        mirrors.erase(mirrors.begin());
        if (!mirrors.empty()) downloader->SetMirrors(mirrors);
    }
    active_ = downloader;
    downloader->Start();
    downloader->Wait(true);
    active_ = nullptr;
    const bool ok = (downloader->GetState() & kDownloadPhaseMask) == kDownloadPhaseFinished;
    downloader->Reset();
    if (downloader == downloader_.get() && hooks_.configureDownloader)
        hooks_.configureDownloader(*downloader);
    if (!ok && !Stopped()) Error(FormatMessage<MessageId::kPatchInfoFetchFailed>());
    return ok;
}

bool CRepairWorker::CheckPackFiles() {
    for (const auto& [packName, entries] : list_.packFiles) {
        if (Stopped()) return false;
        if (!CheckPack(packName, entries)) return false;
    }
    return true;
}

bool CRepairWorker::CheckPack(const std::string& packName,
                              const std::vector<RepairEntry>& entries) {
    AXP::PackFile pack(hooks_.packFileSystem);
    // A pack that cannot be opened waits here until its replacement is complete: a repair
    // that cannot finish puts it back.
    const std::string setAside = packName + kSetAsideSuffix;
    // A run killed between the two left it set aside with no pack under its name.
    if (platform::PathExists(setAside) && !platform::PathExists(packName))
        platform::RenamePath(setAside, packName);
    bool rebuilt = false;
    auto putBack = [&] {
        if (rebuilt && platform::PathExists(setAside)) platform::RenamePath(setAside, packName);
    };
    if (!pack.Open(packName, false)) {
        pack.Close();
        if (platform::PathExists(packName)) {
            // Beside one set aside by a killed run, this is that run's unfinished new pack.
            const bool cleared = platform::PathExists(setAside)
                                     ? platform::DeleteFileAt(packName).ok()
                                     : platform::RenamePath(packName, setAside).ok();
            if (!cleared) {
                AXP::SetLastError(AXP::kErrWrite, "File=%s", packName.c_str());
                FailWithCode();
                return false;
            }
        }
        rebuilt = true;
        const std::string folder = FolderOf(packName);
        if ((!folder.empty() && !AXP::CreateDirectoryChain(folder)) || !pack.Create(packName)) {
            FailWithCode();
            pack.Close();
            putBack();
            return false;
        }
    }
    auto abandon = [&] {
        pack.Close();
        putBack();
        return false;
    };
    std::vector<const RepairEntry*> restored;
    for (const RepairEntry& entry : entries) {
        if (Stopped()) return abandon();
        ShowChecking();
        switch (ExamineEntry(pack, entry)) {
            case EntryState::Good:
                break;
            case EntryState::Failed:
                FailWithCode();
                return abandon();
            case EntryState::Restore:
                failReason_.clear();
                if (!RestorePackEntry(pack, packName, entry)) {
                    if (!Stopped()) FailFile(packName + "/" + entry.path);
                    return abandon();
                }
                restored.push_back(&entry);
                ++repairedCount_;
                break;
        }
        AddCheckedVolume(entry.size);
    }
    if (!KeepCatalogue(pack, entries, restored)) {
        FailWithCode();
        return abandon();
    }
    // A pack whose header could not be written back is not the repaired one.
    if (!pack.Close()) {
        FailWithCode();
        putBack();
        return false;
    }
    if (platform::PathExists(setAside)) platform::DeleteFileAt(setAside);
    return true;
}

bool CRepairWorker::KeepCatalogue(AXP::PackFile& pack, const std::vector<RepairEntry>& entries,
                                  const std::vector<const RepairEntry*>& restored) {
    if (restored.empty()) return true;
    // A list that restores the catalogue itself has the published one, which stands.
    for (const RepairEntry& entry : entries)
        if (NormalisePath(entry.path, true, true) == AXP::kListFileName) return true;
    const bool hadCatalogue = pack.Exists(AXP::kListFileName);
    AXP::Catalogue catalogue;
    if (!AXP::ReadCatalogue(pack, catalogue)) return false;
    // Names as the catalogue writes them, by the entry each one is.
    std::map<std::string, std::string> written;
    for (const auto& [name, listed] : catalogue) written[NormalisePath(name, true, true)] = name;
    bool changed = false;
    auto name = [&](const RepairEntry& entry) {
        const auto it = written.find(NormalisePath(entry.path, true, true));
        AXP::CatalogueEntry& listed = catalogue[it == written.end() ? entry.path : it->second];
        if (listed.size == entry.size && listed.crc == entry.crc && it != written.end()) return;
        listed = {entry.size, entry.crc};
        changed = true;
    };
    // A pack without a catalogue gets one naming every entry the list checked in it.
    if (hadCatalogue) {
        for (const RepairEntry* entry : restored) name(*entry);
    } else {
        for (const RepairEntry& entry : entries) name(entry);
    }
    return !changed || AXP::WriteCatalogue(pack, catalogue);
}

CRepairWorker::EntryState CRepairWorker::ExamineEntry(AXP::PackFile& pack,
                                                      const RepairEntry& entry) {
    AXP::SetLastError(AXP::kErrNone);
    // The size first: an entry of the wrong length is not decoded at all.
    if (pack.Exists(entry.path) && pack.GetFileSize(entry.path, false) != entry.size)
        return EntryState::Restore;
    AXP::IStream* stream = pack.OpenFile(entry.path);
    if (stream == nullptr)
        return EntryItselfIsBad(AXP::GetLastErrorCode()) ? EntryState::Restore : EntryState::Failed;
    AXP::SetLastError(AXP::kErrNone);
    const uint32_t crc = stream->GetCrc();
    const uint32_t code = AXP::GetLastErrorCode();
    stream->Release();
    if (code != AXP::kErrNone)
        return EntryItselfIsBad(code) ? EntryState::Restore : EntryState::Failed;
    return crc == entry.crc ? EntryState::Good : EntryState::Restore;
}

bool CRepairWorker::RestorePackEntry(AXP::PackFile& pack, const std::string& packName,
                                     const RepairEntry& entry) {
    const std::string temp = cacheDir_ + FileNameOf(entry.path);
    if (entry.size == 0) {
        if (!platform::WriteFileReplacing(temp, "")) return false;
    } else if (!FetchContent(entry, packName, temp)) {
        return false;
    }
    bool added = false;
    if (entry.compressType == 0) {
        added = pack.AddFile(temp.c_str(), 0, entry.path, false, true, 0, entry.size);
    } else if (entry.compressType > 0 && entry.compressType <= 0xFF) {
        AXP::ICompressMgr& codecs = AXP::GetCompressManager();
        AXP::ICompress* codec = codecs.GetByType(static_cast<uint8_t>(entry.compressType));
        uint32_t unpacked = 0, compressed = 0;
        added = codec != nullptr &&
                codecs.CompressFile(codec, temp, temp, unpacked, nullptr, 0, false, compressed) &&
                unpacked == entry.size &&
                pack.AddFile(temp.c_str(), 0, entry.path, false, true,
                             static_cast<uint8_t>(entry.compressType), unpacked);
    }
    platform::DeleteFileAt(temp);
    return added;
}

void CRepairWorker::AddCheckedVolume(uint32_t size) {
    const uint32_t before = RoundedPercent(checkedVolume_, list_.totalVolume);
    checkedVolume_ += size;
    const uint32_t after = RoundedPercent(checkedVolume_, list_.totalVolume);
    if (after == before) return;
    Send(WM_REPAIR_STATUS,
         FormatMessage<MessageId::kRepairProgress>(
             FormatByteSize(static_cast<int64_t>(checkedVolume_)),
             FormatByteSize(static_cast<int64_t>(list_.totalVolume)), repairedCount_.load()));
    SendValue(WM_REPAIR_PROGRESS, after);
}

intptr_t CRepairWorker::CommandWindowProc(platform::WindowHandle window, uint32_t message,
                                          uintptr_t wParam, intptr_t lParam) {
    auto* self = reinterpret_cast<CRepairWorker*>(platform::GetWindowUserData(window));
    if (self == nullptr) return platform::DefWindowProc(window, message, wParam, lParam);
    if (message == WM_DOWNLOAD_FIRST) return 1;
    CAutoDownload* downloader = self->active_.load();
    if (downloader == nullptr) downloader = self->downloader_.get();
    if (message == kStopDownloadMessage) {
        downloader->Stop();
        return 1;
    }
    if (message == WM_DOWNLOAD_STATE) {
        const uint32_t state = downloader->GetState();
        if (state == kDownloadPhaseRunning) self->SendValue(WM_REPAIR_TOTAL_PROGRESS, 0);
        if ((state & kDownloadPhaseMask) == kDownloadPhaseFinished)
            self->SendValue(WM_REPAIR_TOTAL_PROGRESS, 100);
        return 1;
    }
    if (message != WM_DOWNLOAD_PROGRESS)
        return platform::DefWindowProc(window, message, wParam, lParam);
    int64_t total = 0, done = 0;
    // A transfer of unknown length has no percentage.
    if (downloader->GetProgress(total, done) && total > 0)
        self->SendValue(WM_REPAIR_TOTAL_PROGRESS, static_cast<uintptr_t>(done * 100.0 / total));
    const uint64_t now = TickMilliseconds();
    if (now - g_lastDownloadText.load() > 1000) {
        self->Send(WM_REPAIR_STATUS, FormatMessage<MessageId::kDownloadProgress>(
                                         FormatByteSize(done), FormatByteSize(total),
                                         FormatByteSize(downloader->GetSpeed())));
        g_lastDownloadText = now;
    }
    return 1;
}
