// What bounds a download and what a failed one leaves: the size cap, the rate floor, the
// part file beside the destination, and the local error behind a failure.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>

#include "download/http/auto_download_down_ant.h"
#include "download/part_files.h"
#include "download/tests/download_observer.h"
#include "download/tests/scripted_server.h"
#include "platform/file_fault.h"

namespace qg_test {
namespace {

using namespace DOWNANT;

bool Exists(const std::string& path) { return std::filesystem::exists(path); }

TEST(SizeLimit, BodiesPastTheCapFailAndLeaveNothing) {
    struct Case {
        const char* path;
        int64_t limit;
        uint32_t code;
    } cases[] = {
        {"/endless", 2000, DOWNLOAD_FAILED_TOO_LARGE},       // no length: cut at the cap
        {"/ok/500000", 2000, DOWNLOAD_FAILED_TOO_LARGE},     // declared length over the cap
        {"/chunked/2001", 2000, DOWNLOAD_FAILED_TOO_LARGE},  // one byte over
        {"/chunked/2000", 2000, DOWNLOAD_FINISHED},          // exactly at the cap
        {"/ok/2000", 2000, DOWNLOAD_FINISHED},
        {"/ok/500000", 0, DOWNLOAD_FINISHED},  // 0: no cap
    };
    for (const Case& c : cases) {
        TempFolder folder;
        const std::string destination = folder.Path("patchinfo.txt");
        CAutoDownload_DownAnt downloader;
        downloader.SetSizeLimit(c.limit);
        RunDownload(downloader, Server().Url(c.path), destination);
        EXPECT_EQ(downloader.GetState(), c.code) << c.path;
        EXPECT_EQ(downloader.GetState() & kDownloadPhaseMask,
                  c.code == DOWNLOAD_FINISHED ? kDownloadPhaseFinished : kDownloadPhaseFailed);
        EXPECT_EQ(Exists(destination), c.code == DOWNLOAD_FINISHED) << c.path;
        EXPECT_FALSE(Exists(destination + kDownloadPartSuffix)) << c.path;
    }
}

TEST(SizeLimit, DeclaredLengthOverTheCapIsRefusedBeforeAnyByteIsWritten) {
    TempFolder folder;
    const std::string part = folder.Path("part");
    TransferSettings settings;
    settings.sizeLimit = 1000;
    auto* transfer = new CDownAnt(0);
    transfer->SetSettings(settings);
    TransferRecord record;
    transfer->SetTask(
        Server().Url("/ok/1001").c_str(), part.c_str(),
        [](void* context, CDownAnt* t) -> uint32_t {
            static_cast<TransferRecord*>(context)->states.push_back(t->State());
            return OWNER_GO_ON;
        },
        &record);
    transfer->Execute(nullptr);
    EXPECT_EQ(record.states.back(), DOWN_STATE_TOO_LARGE);
    EXPECT_EQ(std::count(record.states.begin(), record.states.end(), DOWN_STATE_RECEIVING), 0);
    EXPECT_EQ(transfer->Received(), 0);
    EXPECT_EQ(ReadFile(part), "");
    delete transfer;
}

TEST(SizeLimit, HoldsAcrossResetUntilChanged) {
    TempFolder folder;
    CAutoDownload_DownAnt downloader;
    downloader.SetSizeLimit(100);
    downloader.Reset();
    RunDownload(downloader, Server().Url("/ok/101"), folder.Path("a"));
    EXPECT_EQ(downloader.GetState(), DOWNLOAD_FAILED_TOO_LARGE);
    RunDownload(downloader, Server().Url("/ok/101"), folder.Path("a"));
    EXPECT_EQ(downloader.GetState(), DOWNLOAD_FAILED_TOO_LARGE) << "the cap is not used up";
    downloader.SetSizeLimit(0);
    RunDownload(downloader, Server().Url("/ok/101"), folder.Path("a"));
    EXPECT_EQ(downloader.GetState(), DOWNLOAD_FINISHED);
}

// A byte every 150 ms keeps the no-data time-out (1 s here) from ever firing; the rate
// floor ends it. Without the floor this download would complete after about 6 seconds.
TEST(MinimumRate, DrippingServerTimesOut) {
    TempFolder folder;
    CAutoDownload_DownAnt downloader;
    downloader.SetNoDataTimeout(1);
    downloader.SetMinimumRate(100, 2);
    RunDownload(downloader, Server().Url("/drip/40/150"), folder.Path("f"));
    EXPECT_EQ(downloader.GetState(), DOWNLOAD_IDLE);
    EXPECT_EQ(downloader.Manager().State(), MANAGER_TRANSFER_FAILED);
    EXPECT_FALSE(Exists(folder.Path("f")));

    // A slow but steady body above the floor is not cut.
    RunDownload(downloader, Server().Url("/trickle/3000/15"), folder.Path("f"));
    EXPECT_EQ(downloader.GetState(), DOWNLOAD_FINISHED);
}

TEST(MinimumRate, DefaultFloorIsSetAndBelowSlowRealLinks) {
    const TransferSettings defaults;
    EXPECT_GT(defaults.minimumBytesPerSecond, 0u);
    EXPECT_LE(defaults.minimumBytesPerSecond, 1024u);
    EXPECT_GE(defaults.minimumRateWindowSeconds, 30u);
}

// Where the download is being written, seen at its first piece.
struct PartWatch {
    std::string partPath;
    int seenAtFirstPiece = -1;  // -1: no piece yet
};

uint32_t WatchPart(void* context, uint32_t kind, uintptr_t, uintptr_t) {
    auto* watch = static_cast<PartWatch*>(context);
    if (kind == MANAGER_PROGRESS && watch->seenAtFirstPiece < 0)
        watch->seenAtFirstPiece = Exists(watch->partPath) ? 1 : 0;
    return 0;
}

// Beside the destination (one rename puts it in place, no copy between file systems) and
// under the name the next run removes when this one is killed.
TEST(PartFile, LiesBesideTheDestinationWhileDownloading) {
    TempFolder folder;
    const std::string destination = folder.Path("patch.zip");
    PartWatch watch{destination + kDownloadPartSuffix};
    CDownManager manager;
    manager.SetTask(Server().Url("/trickle/2000/5").c_str(), destination.c_str(), WatchPart,
                    &watch);
    manager.Start(true);
    EXPECT_EQ(manager.State(), MANAGER_DONE);
    EXPECT_EQ(watch.seenAtFirstPiece, 1);
    EXPECT_EQ(ReadFile(destination), Pattern(2000));
    EXPECT_FALSE(Exists(watch.partPath));
    EXPECT_EQ(RemoveStalePartFiles(folder.Path("")), 0);
}

// The destination may use its whole 259 bytes; the part's suffix must still fit.
TEST(PartFile, LongestDestinationStillDownloads) {
    TempFolder folder;
    const std::string base = folder.Path("");
    const std::string destination = base + std::string(259 - base.size(), 'p');
    ASSERT_EQ(destination.size(), 259u);
    CAutoDownload_DownAnt downloader;
    RunDownload(downloader, Server().Url("/ok/1000"), destination);
    EXPECT_EQ(downloader.GetState(), DOWNLOAD_FINISHED);
    EXPECT_EQ(ReadFile(destination), Pattern(1000));
}

// Disk full (or another local failure) while writing or syncing: the download fails, says
// which errno made it fail, and leaves the old destination and no part.
TEST(LocalError, FailedWriteOrSyncIsReportedWithItsErrno) {
    struct Case {
        const char* name;
        void (*arm)(platform::FaultInjectingFileSystem&);
        int error;
    } cases[] = {
        {"first write", [](platform::FaultInjectingFileSystem& f) { f.FailWriteNumber(1, ENOSPC); },
         ENOSPC},
        {"later write", [](platform::FaultInjectingFileSystem& f) { f.FailWriteNumber(3, ENOSPC); },
         ENOSPC},
        {"sync", [](platform::FaultInjectingFileSystem& f) { f.FailSyncs(ENOSPC); }, ENOSPC},
        {"create", [](platform::FaultInjectingFileSystem& f) { f.FailOpens(EROFS); }, EROFS},
    };
    for (const Case& c : cases) {
        TempFolder folder;
        const std::string destination = folder.Path("patch.zip");
        WriteFile(destination, "old package");
        platform::FaultInjectingFileSystem files;
        c.arm(files);
        CAutoDownload_DownAnt downloader;
        downloader.SetFileSystem(&files);
        RunDownload(downloader, Server().Url("/chunked/100000"), destination);
        EXPECT_NE(downloader.GetState() & kDownloadPhaseMask, kDownloadPhaseFinished) << c.name;
        EXPECT_EQ(downloader.GetLocalError(), c.error) << c.name;
        EXPECT_EQ(ReadFile(destination), "old package") << c.name;
        EXPECT_FALSE(Exists(destination + kDownloadPartSuffix)) << c.name;

        // The next download that succeeds clears it.
        downloader.SetFileSystem(nullptr);
        RunDownload(downloader, Server().Url("/ok/10"), destination);
        EXPECT_EQ(downloader.GetLocalError(), 0) << c.name;
        EXPECT_EQ(ReadFile(destination), Pattern(10)) << c.name;
    }
}

}  // namespace
}  // namespace qg_test
