// The repair pipeline: on a thread of its own it fetches the published file list, checks
// every loose file and every pack entry of the client against it, and restores each one
// whose size or CRC differs, from a local ".patch" package when one holds it, else from
// the repair site. It reports to the main window with the WM_REPAIR_* messages
// (update/launch_messages.h) and ends with WM_REPAIR_DONE when every file is sound.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "download/auto_download.h"
#include "platform/event.h"
#include "platform/messages.h"
#include "update/client_work_gate.h"
#include "update/launch_messages.h"
#include "update/launcher_config.h"
#include "update/repair_digests.h"
#include "update/repair_list.h"
#include "update/signature.h"
#include "update/version.h"

namespace AXP {
class IUpdater;
class PackFile;
}  // namespace AXP
namespace platform {
class IFileSystem;
}

inline constexpr const char* kRepairCommandWindowClass = "REPAIR_CMD_WINDOW_CLASS";

class CRepairWorker {
  public:
    // Hooks to the parts of the launcher around the pipeline; each may be empty.
    struct Hooks {
        // Asks the user to close a running game; true means cancelled (no repair).
        std::function<bool()> checkGameRunning;
        // Configures each new downloader (tests shorten time-outs).
        std::function<void(CAutoDownload&)> configureDownloader;
        // Makes the downloader; empty makes the HTTP one.
        std::function<std::unique_ptr<CAutoDownload>()> createDownloader;
        // Called on the repair thread as its very last step, whatever the outcome.
        std::function<void()> finished;
        // Where the packs are opened; null: the real file system (tests inject faults).
        platform::IFileSystem* packFileSystem = nullptr;
    };

    CRepairWorker();
    ~CRepairWorker();  // signals the stop and waits for the thread
    CRepairWorker(const CRepairWorker&) = delete;
    CRepairWorker& operator=(const CRepairWorker&) = delete;

    void SetHooks(Hooks hooks) { hooks_ = std::move(hooks); }

    // Starts a repair of the client in the current directory against `config`'s repair
    // site, working in its download directory. False (nothing started) when a repair still
    // runs, no repair site is configured, or another writer holds the client (the process's
    // ClientWorkGate; the thread holds its pass until it ends). `updater` must outlive the
    // repair.
    bool Start(platform::WindowHandle dialog, AXP::IUpdater* updater, const LauncherConfig& config);
    // Asks the repair to stop before its next file, cutting short a download under way;
    // WM_REPAIR_DONE is then not sent. Any thread.
    void SignalStop();
    // Waits for the repair thread to end (if it was started), handling the messages it
    // sends to the calling thread's windows meanwhile.
    void Join();
    bool running() const { return running_.load(); }

    int repairedCount() const { return repairedCount_.load(); }
    // True when the last repair checked everything and sent WM_REPAIR_DONE.
    bool completed() const { return completed_.load(); }

  private:
    void Run();
    bool LoadFileList();
    // A signed site's companion of the list: fetched, verified and bound to this client's
    // release; false (said to the window) otherwise.
    bool LoadDigests(RepairDigests& digests);
    // Fetches a small file of the site quietly into `data` (the local copy goes again).
    bool FetchSiteFile(const std::string& relativePath, int64_t sizeLimit, std::string& data);
    bool RefuseList(const std::string& reason);
    bool CheckLooseFiles();
    bool CheckPackFiles();
    bool CheckPack(const std::string& packName, const std::vector<RepairEntry>& entries);
    enum class EntryState { Good, Restore, Failed };
    EntryState ExamineEntry(AXP::PackFile& pack, const RepairEntry& entry);
    bool RestoreFile(const RepairEntry& entry);
    bool RestorePackEntry(AXP::PackFile& pack, const std::string& packName,
                          const RepairEntry& entry);
    // The entry's content at `temp`, from a local package or else from the site.
    bool FetchContent(const RepairEntry& entry, const std::string& packName,
                      const std::string& temp);
    bool RestoreFromLocalPatches(const RepairEntry& entry, const std::string& packName,
                                 const std::string& temp);
    // Whether `path` holds exactly the entry's published content: size, CRC, and on a
    // signed site its SHA-256.
    bool IsPublishedContent(const std::string& path, const RepairEntry& entry);
    // Whether restoring ".ver" from `temp` would take the client to an older release.
    bool TakesVersionBack(const RepairEntry& entry, const std::string& temp);
    // Keeps the pack's "(list)" naming every entry restored into it.
    bool KeepCatalogue(AXP::PackFile& pack, const std::vector<RepairEntry>& entries,
                       const std::vector<const RepairEntry*>& restored);
    // A file of the site; one to restore (`viaEngine`) comes through the download engine
    // when it is on, from the repair site and the same path on every backup server at once.
    bool RepairDownload(const std::string& relativePath, const std::string& localPath, uint32_t tag,
                        int64_t sizeLimit, bool viaEngine = false);
    void AddCheckedVolume(uint32_t size);
    void ShowChecking();
    bool Stopped();
    void FailFile(const std::string& path);
    void FailWithCode();

    void Send(uint32_t message, const std::string& text = std::string());
    void SendValue(uint32_t message, uintptr_t value);
    void Error(const std::string& text) { Send(WM_REPAIR_ERROR, text); }

    static intptr_t CommandWindowProc(platform::WindowHandle window, uint32_t message,
                                      uintptr_t wParam, intptr_t lParam);

    struct LocalPatch {
        std::string path;
        std::string converted;  // the plain zip in the cache once converted
        bool conversionFailed = false;
    };

    Hooks hooks_;
    platform::WindowHandle dialogWindow_ = platform::kNoWindow;
    std::atomic<platform::WindowHandle> commandWindow_{platform::kNoWindow};
    AXP::IUpdater* updater_ = nullptr;
    std::string workDir_;
    std::string cacheDir_;
    std::string repairUrl_;
    std::vector<std::string> backupServers_;
    std::optional<PublicKey> publicKey_;
    bool publicKeyBad_ = false;
    std::string installedRaw_;                       // ".ver" as the repair found it
    std::optional<VersionNumber> installedVersion_;  // none when ".ver" gives none
    std::string failReason_;  // why the file that failed last was refused, for FailFile
    std::unique_ptr<CAutoDownload> downloader_;
    std::unique_ptr<CAutoDownload> engine_;  // none when the engine is off
    // The downloader whose transfer runs now: stopped by a stop, shown by the window.
    std::atomic<CAutoDownload*> active_{nullptr};
    std::thread thread_;
    platform::Event stopEvent_{true, false};
    platform::Event ended_{true, false};  // set as the thread's last step
    std::atomic<bool> running_{false};
    ClientWorkGate::Pass pass_;  // held by the repair thread until its end
    std::atomic<bool> completed_{false};

    RepairList list_;
    // Newest first; of two packages written at the same instant the first found.
    std::map<int64_t, LocalPatch, std::greater<int64_t>> localPatches_;
    uint64_t checkedVolume_ = 0;
    uint32_t examined_ = 0;
    std::atomic<int> repairedCount_{0};
};
