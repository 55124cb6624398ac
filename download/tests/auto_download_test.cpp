// The downloader interface and the manager beyond the table of server replies: bad
// tasks, texts, stopping, reuse, concurrency, the copy step and the messages.
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <thread>

#include "download/create_downloader.h"
#include "download/http/auto_download_down_ant.h"
#include "download/part_files.h"
#include "download/tests/download_observer.h"
#include "download/tests/scripted_server.h"
#include "platform/text_encoding.h"

namespace qg_test {
namespace {

using namespace DOWNANT;

std::string Gbk(const char* utf8) { return platform::Utf8ToGbkLossy(utf8); }

// What a manager tells its owner, recorded on whichever thread it arrives.
struct ManagerLog {
    CDownManager* manager = nullptr;
    std::vector<uint32_t> states;
    std::vector<std::string> texts;  // converted to UTF-8
    CDownAnt* transfer = nullptr;
    uint32_t transferStateAtFailure = 0;
    bool stopOnProgress = false;
};

uint32_t RecordManager(void* context, uint32_t kind, uintptr_t, uintptr_t b) {
    auto* log = static_cast<ManagerLog*>(context);
    if (kind == MANAGER_STATE_CHANGED) {
        log->states.push_back(static_cast<uint32_t>(b));
        if (b == MANAGER_TRANSFER_FAILED && log->transfer)
            log->transferStateAtFailure = log->transfer->State();
    } else if (kind == MANAGER_TEXT) {
        log->texts.push_back(platform::GbkToUtf8Lossy(reinterpret_cast<const char*>(b)));
    } else if (kind == MANAGER_PART_CREATED) {
        log->transfer = reinterpret_cast<CDownAnt*>(b);
    } else if (kind == MANAGER_PROGRESS && log->stopOnProgress) {
        log->manager->Stop(false);
    }
    return 0;
}

TEST(DownloadTask, RefusedTasksNeverStartAndNeverBlockTheWait) {
    TempFolder folder;
    const std::string longUrl = "http://127.0.0.1/" + std::string(2100, 'a');
    const std::string longPath = folder.Path(std::string(300, 'b'));
    struct Case {
        std::string url, path;
    } cases[] = {{"", folder.Path("x")},          {"http://127.0.0.1/x", ""},
                 {"not a url", folder.Path("x")}, {"gopherx://h/x", folder.Path("x")},
                 {longUrl, folder.Path("x")},     {"http://127.0.0.1/x", longPath}};
    for (const Case& c : cases) {
        CAutoDownload_DownAnt downloader;
        EXPECT_TRUE(downloader.SetTask(c.url.c_str(), c.path.c_str(), platform::kNoWindow, 0))
            << c.url;
        EXPECT_EQ(downloader.GetState(), DOWNLOAD_REFUSED) << c.url;
        downloader.Start();
        EXPECT_EQ(downloader.GetState(), DOWNLOAD_REFUSED);
        EXPECT_TRUE(downloader.Wait(true));  // returns at once: nothing runs
        EXPECT_FALSE(downloader.Wait(false));
    }
}

TEST(DownloadTask, TransferTextsForBadTasks) {
    TransferRecord empty = RunTransfer("", "/tmp/x", 60);
    EXPECT_EQ(empty.states, std::vector<uint32_t>{DOWN_STATE_BAD_TASK});
    EXPECT_EQ(empty.lastMessage, Gbk("下载地址和本地文件地址不能为空"));
    TransferRecord garbage = RunTransfer("::nonsense", "/tmp/x", 60);
    EXPECT_EQ(garbage.lastMessage, Gbk("地址解析错误: ::nonsense"));
    // A scheme the parser knows but that is not HTTP is accepted, and its request fails.
    TempFolder folder;
    TransferRecord ftp = RunTransfer("ftp://127.0.0.1:1/file", folder.Path("part"), 60);
    EXPECT_EQ(ftp.states.back(), DOWN_STATE_REQUEST_FAILED);
    // A part file that cannot be created.
    TransferRecord noFile =
        RunTransfer(Server().Url("/ok/10"), folder.Path("missing/dir/part"), 60);
    EXPECT_EQ(noFile.states.back(), DOWN_STATE_FILE_CREATE_FAILED);
    EXPECT_EQ(noFile.lastMessage.rfind(Gbk("本地文件创建失败: "), 0), 0u);
}

TEST(DownloadManager, ReportsItsStatesAndTextsInOrder) {
    TempFolder folder;
    ManagerLog log;
    CDownManager manager;
    log.manager = &manager;
    ASSERT_TRUE(manager.SetTask(Server().Url("/ok/5000").c_str(), folder.Path("f").c_str(),
                                RecordManager, &log));
    manager.Start(true);
    EXPECT_EQ(log.states, (std::vector<uint32_t>{MANAGER_READY, MANAGER_STARTED, MANAGER_LOOKING_UP,
                                                 MANAGER_ASSEMBLING, MANAGER_DONE}));
    EXPECT_EQ(log.texts, (std::vector<std::string>{"初始化成功", "查找服务器: 127.0.0.1...",
                                                   "连接服务器: 127.0.0.1...", "连接服务器成功!",
                                                   "开始下载文件", "下载结束"}));
    EXPECT_EQ(manager.TotalSize(), 5000);
    EXPECT_EQ(manager.ReceivedEstimate(), 5000);
    EXPECT_EQ(ReadFile(folder.Path("f")), Pattern(5000));
}

TEST(DownloadManager, SendsTheAgreedRequestHeaders) {
    TempFolder folder;
    CAutoDownload_DownAnt downloader;
    RunDownload(downloader, Server().Url("/echo-headers"), folder.Path("headers"));
    const std::string request = ReadFile(folder.Path("headers"));
    EXPECT_NE(request.find("GET /echo-headers HTTP/1.1"), std::string::npos);
    EXPECT_NE(request.find("User-Agent: DOWN_ANT_BY_RUVE"), std::string::npos);
    EXPECT_NE(request.find("Accept: */*"), std::string::npos);
    EXPECT_NE(request.find("Cache-Control: no-cache"), std::string::npos);
    EXPECT_EQ(request.find("Range:"), std::string::npos);
}

TEST(DownloadManager, StopDuringTheBodyAbortsAndWakesTheWaiter) {
    TempFolder folder;
    WriteFile(folder.Path("f"), "older");
    ManagerLog log;
    CDownManager manager;
    log.manager = &manager;
    log.stopOnProgress = true;
    manager.SetTask(Server().Url("/endless").c_str(), folder.Path("f").c_str(), RecordManager,
                    &log);
    manager.Start(false);
    EXPECT_TRUE(manager.Wait(true));
    EXPECT_EQ(manager.State(), MANAGER_TRANSFER_FAILED);
    EXPECT_EQ(log.transferStateAtFailure, DOWN_STATE_ABORTED);
    EXPECT_EQ(ReadFile(folder.Path("f")), "older");
    bool partExists = true;
    ReadFile(manager.PartFilePath(), &partExists);
    EXPECT_FALSE(partExists);
}

TEST(DownloadManager, StopBeforeTheResponseStillStops) {
    TempFolder folder;
    ManagerLog log;
    CDownManager manager;
    log.manager = &manager;
    manager.SetTask(Server().Url("/stall-headers").c_str(), folder.Path("f").c_str(), RecordManager,
                    &log);
    manager.Start(false);
    manager.Stop(false);  // no response yet, and no 60-second time-out to wait for
    EXPECT_TRUE(manager.Wait(true));
    EXPECT_EQ(log.transferStateAtFailure, DOWN_STATE_ABORTED);
}

TEST(DownloadManager, DownloadsSideBySideUseTheirOwnPartFiles) {
    TempFolder folder;
    CDownManager first, second;
    ManagerLog log1, log2;
    first.SetTask(Server().Url("/trickle/4000/5").c_str(), folder.Path("one").c_str(),
                  RecordManager, &log1);
    second.SetTask(Server().Url("/chunked/6000").c_str(), folder.Path("two").c_str(), RecordManager,
                   &log2);
    EXPECT_NE(first.PartFilePath(), second.PartFilePath());
    first.Start(false);
    second.Start(false);
    first.Wait(true);
    second.Wait(true);
    EXPECT_EQ(first.State(), MANAGER_DONE);
    EXPECT_EQ(second.State(), MANAGER_DONE);
    EXPECT_EQ(ReadFile(folder.Path("one")), Pattern(4000));
    EXPECT_EQ(ReadFile(folder.Path("two")), Pattern(6000));
}

TEST(DownloadManager, PartThatCannotBePutInPlaceIsAFailureNotDone) {
    TempFolder folder;
    // A folder of the destination's name, with a file in it, cannot be renamed over.
    const std::string destination = folder.Path("f");
    std::filesystem::create_directory(destination);
    WriteFile(destination + "/inside", "kept");
    ManagerLog log;
    CDownManager manager;
    manager.SetTask(Server().Url("/ok/100").c_str(), destination.c_str(), RecordManager, &log);
    manager.Start(true);
    EXPECT_EQ(manager.State(), MANAGER_ASSEMBLE_FAILED);
    EXPECT_EQ(manager.Phase(), 3u);
    EXPECT_EQ(manager.LocalError(), EISDIR);
    EXPECT_EQ(log.texts.back(), "下载失败");
    EXPECT_EQ(CAutoDownload_DownAnt::MapManagerState(manager.State()), DOWNLOAD_FAILED_COPY);
    EXPECT_EQ(ReadFile(destination + "/inside"), "kept");
    EXPECT_FALSE(std::filesystem::exists(manager.PartFilePath()));
}

TEST(DownloadManager, MissingFolderFailsTheTransferAndTellsTheLocalError) {
    TempFolder folder;
    ManagerLog log;
    CDownManager manager;
    manager.SetTask(Server().Url("/ok/100").c_str(), folder.Path("no/such/dir/f").c_str(),
                    RecordManager, &log);
    manager.Start(true);
    EXPECT_EQ(manager.State(), MANAGER_TRANSFER_FAILED);
    EXPECT_EQ(manager.LocalError(), ENOENT);
}

TEST(AutoDownload, ReusedDownloaderKeepsEachPartBesideItsFile) {
    TempFolder folder;
    CAutoDownload_DownAnt downloader;
    // A longer part left by a killed run is truncated, not written into.
    WriteFile(folder.Path("b") + kDownloadPartSuffix, std::string(5000, 'x'));
    RunDownload(downloader, Server().Url("/ok/200000"), folder.Path("a"));
    EXPECT_EQ(downloader.Manager().PartFilePath(), folder.Path("a") + kDownloadPartSuffix);
    Observed second = RunDownload(downloader, Server().Url("/ok/1000"), folder.Path("b"));
    EXPECT_EQ(downloader.Manager().PartFilePath(), folder.Path("b") + kDownloadPartSuffix);
    EXPECT_FALSE(std::filesystem::exists(folder.Path("a") + kDownloadPartSuffix));
    EXPECT_EQ(downloader.GetState(), DOWNLOAD_FINISHED);
    EXPECT_EQ(ReadFile(folder.Path("b")), Pattern(1000));
    EXPECT_EQ(ReadFile(folder.Path("a")), Pattern(200000));
    EXPECT_EQ(second.states.back(), DOWNLOAD_FINISHED);
}

TEST(AutoDownload, ProgressFiguresAndMessages) {
    TempFolder folder;
    CAutoDownload_DownAnt downloader;
    int64_t total = -5, done = -5;
    downloader.SetTask(Server().Url("/ok/10").c_str(), folder.Path("f").c_str(),
                       platform::kNoWindow, 0);
    EXPECT_FALSE(downloader.GetProgress(total, done));  // ready: outputs untouched
    EXPECT_EQ(total, -5);
    EXPECT_EQ(done, -5);

    Observed trickle = RunDownload(downloader, Server().Url("/trickle/3000/20"), folder.Path("f"));
    EXPECT_GE(trickle.progressMessages, 2);
    EXPECT_EQ(trickle.lastTotal, 3000);
    EXPECT_LE(trickle.lastDone, 3000);
    EXPECT_TRUE(downloader.GetProgress(total, done));
    EXPECT_EQ(total, 3000);
    EXPECT_EQ(done, 3000);

    RunDownload(downloader, Server().Url("/chunked/3000"), folder.Path("f"));
    EXPECT_FALSE(downloader.GetProgress(total, done));  // finished, size never known
    EXPECT_EQ(total, 0);

    downloader.Reset();
    EXPECT_EQ(downloader.GetState(), DOWNLOAD_IDLE);
    EXPECT_FALSE(downloader.GetProgress(total, done));
}

TEST(AutoDownload, SetTaskWhileRunningAndStartOutsideReadyChangeNothing) {
    TempFolder folder;
    CAutoDownload_DownAnt downloader;
    Observed seen;
    seen.downloader = &downloader;
    ObserverWindow window(&seen);
    downloader.SetTask(Server().Url("/endless").c_str(), folder.Path("f").c_str(), window.Handle(),
                       3);
    downloader.Start();
    EXPECT_EQ(downloader.GetState() & kDownloadPhaseMask, kDownloadPhaseRunning);
    EXPECT_FALSE(downloader.SetTask(Server().Url("/ok/1").c_str(), folder.Path("g").c_str(),
                                    window.Handle(), 4));
    downloader.Stop();
    downloader.Wait(true);
    EXPECT_EQ(downloader.GetState(), DOWNLOAD_IDLE);
    EXPECT_EQ(downloader.Manager().State(), MANAGER_TRANSFER_FAILED);
    downloader.Start();  // not ready: nothing happens
    EXPECT_EQ(downloader.Manager().State(), MANAGER_TRANSFER_FAILED);
}

TEST(AutoDownload, DestroyingARunningDownloaderDoesNotHangOnItsMessages) {
    TempFolder folder;
    Observed seen;
    ObserverWindow window(&seen);
    std::string part;
    {
        CAutoDownload_DownAnt downloader;
        seen.downloader = &downloader;
        downloader.SetTask(Server().Url("/endless").c_str(), folder.Path("f").c_str(),
                           window.Handle(), 0);
        downloader.Start();
        part = downloader.Manager().PartFilePath();
        // Without pumping, the pool thread soon blocks in a send to this thread.
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    bool exists = true;
    ReadFile(part, &exists);
    EXPECT_FALSE(exists) << "the manager removes its part file";
}

// A backend that only stores its state, to watch SetStateAndNotify alone.
class StoredStateDownload : public CAutoDownload {
  public:
    uint32_t GetKind() override { return 9; }
    uint32_t GetState() override { return task_->state; }
    bool GetProgress(int64_t&, int64_t&) override { return false; }
    uint32_t GetSpeed() override { return 0; }
    bool SetTask(const char*, const char*, platform::WindowHandle window, uint32_t tag) override {
        task_->notifyWindow = window;
        task_->tag = tag;
        return true;
    }
    void Reset() override {}
    void Start() override {}
    void Stop() override {}
    bool Wait(bool) override { return true; }
};

TEST(AutoDownload, SetStateAndNotifySendsOnlyChanges) {
    Observed seen;
    ObserverWindow window(&seen);
    StoredStateDownload silent;
    silent.SetStateAndNotify(DOWNLOAD_RUNNING);  // no window: stored only
    EXPECT_EQ(silent.GetState(), DOWNLOAD_RUNNING);

    StoredStateDownload download;
    download.SetTask("", "", window.Handle(), 5);
    download.SetStateAndNotify(DOWNLOAD_RUNNING);
    download.SetStateAndNotify(DOWNLOAD_RUNNING);
    download.SetStateAndNotify(DOWNLOAD_FINISHED);
    EXPECT_EQ(seen.states, (std::vector<uint32_t>{DOWNLOAD_RUNNING, DOWNLOAD_FINISHED}));
}

TEST(AutoDownload, FactoryKinds) {
    auto http = CreateDownloader(0);
    ASSERT_NE(http, nullptr);
    EXPECT_EQ(http->GetKind(), 0u);
    EXPECT_EQ(http->GetState(), DOWNLOAD_IDLE);
    EXPECT_EQ(CreateDownloader(1), nullptr);
    EXPECT_EQ(CreateDownloader(2), nullptr);
}

}  // namespace
}  // namespace qg_test
