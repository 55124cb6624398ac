// The update pipeline: on a thread of its own it checks free disk space, fetches the
// patch-information file, plans the patch chain, replaces the launcher when a newer one
// is published, downloads and applies the patch packages and fetches the server list.
// It reports every step to the main window by synchronous messages (update/launch_messages.h)
// and leaves a result that the window reads when WM_LAUNCH_DONE arrives.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "download/auto_download.h"
#include "platform/messages.h"
#include "update/client_work_gate.h"
#include "update/launcher_config.h"
#include "update/patch_info.h"
#include "update/release_trust.h"
#include "update/signature.h"
#include "update/version.h"

namespace AXP {
class IUpdater;
}

inline constexpr const char* kLaunchCommandWindowClass = "LAUNCH_CMD_WINDOW_CLASS";
// Less than this many free bytes (or exactly this many) stops the update.
inline constexpr uint64_t kRequiredFreeBytes = 104857600;
// Caps of the files that are small by nature; a longer answer is refused (patch packages
// have none). Each leaves a wide margin over any real file.
inline constexpr int64_t kPatchInfoMaxBytes = 16ll << 20;
inline constexpr int64_t kServerListMaxBytes = 4ll << 20;
inline constexpr int64_t kLauncherArchiveMaxBytes = 256ll << 20;

class CLaunchWorker {
  public:
    // Hooks to the parts of the launcher around the pipeline; each may be empty.
    struct Hooks {
        // Runs the start-up command-line check again; false refuses, with the text.
        std::function<bool(std::string& errorText)> commandLineCheck;
        // Shows a modal message (a refused command line).
        std::function<void(const std::string& text)> showMessage;
        // Asks the user to close a running game; true means cancelled (stop the update).
        std::function<bool()> checkGameRunning;
        // Free bytes for the launcher's drive; empty asks the file system.
        std::function<std::optional<uint64_t>()> freeDiskBytes;
        // Configures each new downloader (tests shorten time-outs).
        std::function<void(CAutoDownload&)> configureDownloader;
        // Makes the downloader; empty makes the HTTP one (tests wrap it).
        std::function<std::unique_ptr<CAutoDownload>()> createDownloader;
        // False in a launcher restarted by a self-update of this run: it never replaces
        // itself again, so a faulty publication cannot restart launchers without end.
        bool selfUpdateAllowed = true;
        // The running launcher's own version, compared with the newest published one.
        std::string launcherVersion = kLauncherVersionText;
        // Called on the pipeline thread as its very last step, whatever the result.
        std::function<void()> finished;
        // Called on the caller's thread once the configuration is loaded, before the
        // downloaders are made (the launcher sets the download engine up from it).
        std::function<void(const LauncherConfig&)> configured;
    };

    CLaunchWorker();
    ~CLaunchWorker();  // waits for the thread
    CLaunchWorker(const CLaunchWorker&) = delete;
    CLaunchWorker& operator=(const CLaunchWorker&) = delete;

    void SetHooks(Hooks hooks) { hooks_ = std::move(hooks); }

    // Loads the configuration (on the caller's thread, which owns `dialog`), creates the
    // downloader and starts the pipeline thread. When the configuration cannot be loaded
    // it sends WM_LAUNCH_ERROR with MessageId::kConfigLoadFailed and starts nothing (false);
    // so it does when another writer holds the client (the process's ClientWorkGate, whose
    // pass the thread holds until it ends, and marks the client up to date on result 2).
    bool Start(platform::WindowHandle dialog, AXP::IUpdater* updater, const char* configFileName);

    // Waits for the pipeline thread to end (if it was started).
    void Join();

    int result() const { return result_.load(); }
    const LauncherConfig& config() const { return config_; }

  private:
    void Run();
    bool CheckDiskSpace();
    bool FetchPatchInfo();
    bool PlanUpdate();
    uint32_t SelfUpdate();
    bool FetchPatches();
    bool ApplyPatches();
    bool FetchServerList();
    // `expected` (a signed site's description of the file) refuses any other body: such
    // an attempt fails and sets lastMismatch_. A patch package (`package` set) comes through
    // the download engine when it is on, from every server at once.
    bool DownloadFile(const std::string& url, const std::string& localPath, uint32_t tag,
                      bool useBackupServers, bool verifyPatch, int64_t sizeLimit,
                      const PublishedFile* expected = nullptr, const PatchStep* package = nullptr);
    // One attempt with `downloader`; `mirrors` and `blockList` go to a downloader that
    // takes them.
    bool DownloadAttempt(CAutoDownload& downloader, const std::string& url,
                         const std::vector<std::string>& mirrors,
                         const std::optional<Sha256Digest>& blockList, const std::string& localPath,
                         uint32_t tag, bool verifyPatch, const PublishedFile* expected);
    bool DownloadAttempt(const std::string& url, const std::string& localPath, uint32_t tag,
                         bool verifyPatch, const PublishedFile* expected) {
        return DownloadAttempt(*downloader_, url, {}, std::nullopt, localPath, tag, verifyPatch,
                               expected);
    }
    // The URL, then the same object on each backup server.
    std::vector<std::string> CandidateUrls(const std::string& url, bool useBackupServers) const;
    enum class SignedFetch { Verified, NotFetched, NotVerified };
    // Fetches a file and its signature from one server after the other until a copy whose
    // signature verifies for `role` arrives; its bytes stay at `localPath` and in `data`,
    // the serial its signature carries (a role with one) in `serial`.
    SignedFetch FetchSigned(SignedRole role, const std::string& url, const std::string& localPath,
                            int64_t sizeLimit, std::string& data, uint64_t* serial = nullptr);
    bool signedSite() const { return publicKey_.has_value(); }
    bool CheckSerial();
    // Refuses a server list older than the newest one seen and keeps its serial.
    bool CheckServerListSerial(uint64_t serial);
    bool PackageMatchesPublished(const std::string& path, const PublishedFile& published) const;
    bool InstallLauncher(const std::string& image);
    bool CheckInstalledVersion();
    // The error text of a download that failed on this machine's side (a full disk, a
    // file that cannot be written), or empty when the failure lay elsewhere.
    std::string LocalFailureText(const std::string& localPath) const;

    // Messages to the main window; texts are UTF-8.
    void Send(uint32_t message, const std::string& text = std::string(),
              const std::string& second = std::string());
    void SendValue(uint32_t message, uintptr_t value);
    void Status(const std::string& text);
    void Error(const std::string& text);

    static intptr_t CommandWindowProc(platform::WindowHandle window, uint32_t message,
                                      uintptr_t wParam, intptr_t lParam);
    static void ApplyProgress(void* context, const char* packName, const char* entryName,
                              uint32_t operation);

    Hooks hooks_;
    LauncherConfig config_;
    platform::WindowHandle dialogWindow_ = platform::kNoWindow;
    platform::WindowHandle commandWindow_ = platform::kNoWindow;
    AXP::IUpdater* updater_ = nullptr;
    std::unique_ptr<CAutoDownload> downloader_;
    // The download engine's downloader for the packages; none when the engine is off.
    std::unique_ptr<CAutoDownload> engine_;
    // The downloader whose transfer runs now, whose progress the command window shows.
    CAutoDownload* active_ = nullptr;
    std::thread thread_;
    std::atomic<int> result_{-1};
    ClientWorkGate::Pass pass_;  // held by the pipeline thread until its end

    std::string configFileName_;
    std::string installedRaw_;
    VersionNumber installedVersion_;
    PatchInfo info_;
    std::string newLauncherZipPath_;
    std::vector<PatchStep> chain_;
    uint32_t applyTotal_ = 0;
    uint32_t applyCounter_ = 0;
    uint64_t lastDetailTick_ = 0;
    int lastLocalError_ = 0;     // errno of the last download's local failure
    bool lastMismatch_ = false;  // a body differed from its published size or SHA-256
    std::optional<PublicKey> publicKey_;
    std::string verifiedPatchInfo_;  // the bytes whose signature verified
};
