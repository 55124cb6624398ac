// The engine backend against a scripted engine: construction and the factory, the two
// mapping tables, the messages a pumping caller receives, and the task's lifecycle.
#include "download/tarn/auto_download_tarn.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "download/create_downloader.h"
#include "download/tarn/engine_in_process.h"
#include "download/tarn/tests/tarn_double.h"
#include "platform/machine_id.h"
#include "platform/registry.h"
#include "quillgate/tarn.h"
#include "testing/temp_dir.h"

namespace {

constexpr const char* kEngineKey = "Software\\VELKO\\p4p";

// Points the machine hive at a folder of the test's own, with or without the port.
class EngineRegistry {
  public:
    explicit EngineRegistry(bool withPort) {
        setenv("QG_REGISTRY_HKLM", (dir_ / "hklm").c_str(), 1);
        if (withPort) {
            EXPECT_TRUE(platform::RegistryStore(platform::RegistryHive::LocalMachine)
                            .WriteDword(kEngineKey, "IPCPort", 4711)
                            .ok());
        }
    }
    ~EngineRegistry() { unsetenv("QG_REGISTRY_HKLM"); }

  private:
    testing_support::TempDir dir_{"qg_tarn"};
};

// What the caller's window receives, in order.
struct Received {
    uint32_t message;
    uintptr_t tag;
    intptr_t lParam;
};
std::vector<Received> g_received;
CAutoDownload* g_downloader = nullptr;
bool g_stopOnProgress = false;

intptr_t CallerWindow(platform::WindowHandle window, uint32_t message, uintptr_t wParam,
                      intptr_t lParam) {
    if (message == WM_DOWNLOAD_STATE || message == WM_DOWNLOAD_PROGRESS) {
        g_received.push_back({message, wParam, lParam});
        if (message == WM_DOWNLOAD_PROGRESS && g_stopOnProgress) g_downloader->Stop();
    }
    return platform::DefWindowProc(window, message, wParam, lParam);
}

class TarnAdapter : public ::testing::Test {
  protected:
    void SetUp() override {
        g_received.clear();
        g_stopOnProgress = false;
        platform::RegisterWindowClass("tarn_test_caller", &CallerWindow);
        caller_ = platform::CreateMessageWindow("tarn_test_caller");
        downloader_ = CreateDownloader(1);
        ASSERT_NE(downloader_, nullptr);
        g_downloader = downloader_.get();
    }
    void TearDown() override {
        downloader_.reset();
        platform::DestroyMessageWindow(caller_);
        EXPECT_EQ(tarn_double::LiveTasks(), 0) << "an engine task was never destroyed";
    }

    // Runs one download to its end with the given script; returns the final state.
    uint32_t Run(const tarn_double::Script& script) {
        tarn_double::SetScript(script);
        EXPECT_TRUE(downloader_->SetTask("http://127.0.0.1:1/file", "out.bin", caller_, 7));
        downloader_->Start();
        EXPECT_TRUE(downloader_->Wait(true));
        return downloader_->GetState();
    }

    // Starts a download that only a cancel ends.
    void StartEndless() {
        tarn_double::Script script;
        script.endAfterPolls = -1;
        tarn_double::SetScript(script);
        ASSERT_TRUE(downloader_->SetTask("http://127.0.0.1:1/a", "a.bin", caller_, 1));
        downloader_->Start();
    }

    std::vector<intptr_t> States() const {
        std::vector<intptr_t> states;
        for (const auto& r : g_received)
            if (r.message == WM_DOWNLOAD_STATE) states.push_back(r.lParam);
        return states;
    }
    int ProgressMessages() const {
        int count = 0;
        for (const auto& r : g_received) count += r.message == WM_DOWNLOAD_PROGRESS;
        return count;
    }

    EngineRegistry registry_{true};
    platform::WindowHandle caller_ = platform::kNoWindow;
    std::unique_ptr<CAutoDownload> downloader_;
};

TEST(TarnFactory, WithoutThePortTheFactoryReturnsNone) {
    EngineRegistry registry(false);
    EXPECT_EQ(CreateDownloader(1), nullptr);
}

TEST(TarnFactory, HandsThePortAndTheMachineIdentifierToTheEngine) {
    EngineRegistry registry(true);
    auto downloader = CreateDownloader(1);
    ASSERT_NE(downloader, nullptr);
    EXPECT_EQ(downloader->GetKind(), 1u);
    EXPECT_EQ(downloader->GetState(), DOWNLOAD_IDLE);
    EXPECT_EQ(tarn_double::IpcPort(), 4711u);
    EXPECT_EQ(tarn_double::UserId(), platform::MachineIdText(platform::ComputeMachineId()));
}

TEST(TarnFactory, AProgramThatUsesTheEngineInProcessNeedsNoPortAndGetsItsSharingSettings) {
    // The setting is the process's for good: tried in a child process of its own.
    EXPECT_EXIT(
        {
            EngineRegistry registry(false);
            EngineProcessSettings settings;
            settings.lookupServer = "127.0.0.1:7001";
            settings.peerAddress = "0.0.0.0";
            settings.peerPort = 7002;
            settings.seedSeconds = kSeedWhileTheProcessLives;
            settings.uploadBytesPerSecond = 65536;
            settings.uploadConnections = 3;
            const bool ok = UseEngineInProcess(settings) && EngineInProcess() &&
                            CreateDownloader(1) != nullptr &&
                            tarn_double::LookupServer() == "127.0.0.1:7001" &&
                            !tarn_double::UserId().empty();
            const tarn_double::Sharing sharing = tarn_double::SharingSettings();
            const bool shared = sharing.listenAddress == "0.0.0.0" && sharing.listenPort == 7002 &&
                                sharing.seedSeconds == kSeedWhileTheProcessLives &&
                                sharing.uploadBytesPerSecond == 65536 &&
                                sharing.uploadConnections == 3;
            if (!shared) std::exit(2);
            std::exit(ok ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
    EXPECT_FALSE(EngineInProcess());
}

TEST(TarnMapping, EngineStatusAndEndCodes) {
    const std::pair<uint32_t, uint32_t> statuses[] = {
        {0, 0x1}, {1, 0x10001}, {2, 0x20000}, {3, 0x30002}, {4, 0x30000}};
    for (auto [status, state] : statuses)
        EXPECT_EQ(CAutoDownload_Tarn::MapEngineStatus(status), state) << status;
    const std::pair<intptr_t, uint32_t> ends[] = {{0, 0x20000}, {1, 0x30001}, {2, 0x30002},
                                                  {4, 0x30003}, {3, 0x30000}, {12, 0x30000},
                                                  {-1, 0x30000}};
    for (auto [code, state] : ends) EXPECT_EQ(CAutoDownload_Tarn::MapEndCode(code), state) << code;
}

TEST(TarnMapping, SpeedGuardsTheElapsedTime) {
    EXPECT_EQ(CAutoDownload_Tarn::ComputeSpeed(5000, 0), 0u);
    EXPECT_EQ(CAutoDownload_Tarn::ComputeSpeed(5000, 2000), 2500u);
    EXPECT_EQ(CAutoDownload_Tarn::ComputeSpeed(-5, 10), 0u);
    EXPECT_EQ(CAutoDownload_Tarn::ComputeSpeed(INT64_MAX, 1), UINT32_MAX);
}

TEST_F(TarnAdapter, ACompletedDownloadReportsEachStateOnceAndUnchangedFiguresOnce) {
    tarn_double::Script script;
    script.endAfterPolls = 3;  // three polls see the same figures
    EXPECT_EQ(Run(script), DOWNLOAD_FINISHED);
    EXPECT_EQ(States(), (std::vector<intptr_t>{0x1, 0x10000, 0x10001, 0x20000}));
    EXPECT_EQ(ProgressMessages(), 1);
    for (const auto& r : g_received) EXPECT_EQ(r.tag, 7u);
    int64_t total = 0, done = 0;
    EXPECT_TRUE(downloader_->GetProgress(total, done));
    EXPECT_EQ(total, 1000);
    EXPECT_EQ(done, 500);
    EXPECT_EQ(tarn_double::LastUrl(), "http://127.0.0.1:1/file");
    EXPECT_EQ(tarn_double::LastFileName(), "out.bin");
}

TEST_F(TarnAdapter, TheTaskGetsItsMirrorsBlockListDigestAndSizeCapAndTheNextTaskNone) {
    const std::string digest(64, 'a');
    ASSERT_TRUE(downloader_->SetTask("http://127.0.0.1:1/file", "out.bin", caller_, 7));
    EXPECT_TRUE(downloader_->SetMirrors({"http://127.0.0.1:2/file", "http://127.0.0.1:3/file"}));
    EXPECT_TRUE(downloader_->SetBlockListSha256(digest));
    for (const char* bad :
         {"", "abc", "g000000000000000000000000000000000000000000000000000000000000000"})
        EXPECT_FALSE(downloader_->SetBlockListSha256(bad)) << bad;
    downloader_->SetSizeLimit(1234);
    downloader_->Start();
    EXPECT_TRUE(downloader_->Wait(true));
    EXPECT_EQ(tarn_double::LastMirrors(),
              (std::vector<std::string>{"http://127.0.0.1:2/file", "http://127.0.0.1:3/file"}));
    EXPECT_EQ(tarn_double::LastBlockListSha256(), digest);
    EXPECT_EQ(tarn_double::LastSizeLimit(), 1234);

    downloader_->SetSizeLimit(0);
    EXPECT_EQ(Run({}), DOWNLOAD_FINISHED);
    EXPECT_TRUE(tarn_double::LastMirrors().empty());
    EXPECT_EQ(tarn_double::LastBlockListSha256(), "");
    EXPECT_EQ(tarn_double::LastSizeLimit(), -1);
}

TEST_F(TarnAdapter, AFileOverTheSizeCapIsToldApartFromOtherFailures) {
    tarn_double::Script script;
    script.endCode = TARN_END_FAILED;
    script.failure = TARN_FAILURE_SIZE_LIMIT;
    EXPECT_EQ(Run(script), DOWNLOAD_FAILED_TOO_LARGE);
    script.failure = TARN_FAILURE_NO_SOURCE;
    EXPECT_EQ(Run(script), DOWNLOAD_FAILED_REASON1);
}

TEST_F(TarnAdapter, EndCodeOfAFailedListGivesThePlainFailure) {
    tarn_double::Script script;
    script.endCode = TARN_END_LIST_FAILED;
    EXPECT_EQ(Run(script), DOWNLOAD_FAILED);
}

TEST_F(TarnAdapter, StopCancelsTheEngineTask) {
    tarn_double::Script script;
    script.endAfterPolls = -1;
    g_stopOnProgress = true;
    EXPECT_EQ(Run(script), DOWNLOAD_FAILED_REASON1);
}

TEST_F(TarnAdapter, AnEngineThatRefusesToStartFailsInsteadOfWaitingForever) {
    tarn_double::Script script;
    script.failDownloadCall = true;
    EXPECT_EQ(Run(script), DOWNLOAD_FAILED);
}

TEST_F(TarnAdapter, TheNextFileNeedsNoReset) {
    EXPECT_EQ(Run({}), DOWNLOAD_FINISHED);
    EXPECT_EQ(Run({}), DOWNLOAD_FINISHED);
}

TEST_F(TarnAdapter, ARunningTaskRefusesANewOneAndDestructionCancelsIt) {
    StartEndless();
    EXPECT_FALSE(downloader_->SetTask("http://127.0.0.1:1/b", "b.bin", caller_, 2));
    EXPECT_FALSE(downloader_->Wait(false));
    downloader_.reset();  // must not hang on the engine thread's pending notification
}

TEST_F(TarnAdapter, ResetWhileRunningCancelsAndGoesIdle) {
    StartEndless();
    downloader_->Reset();
    EXPECT_EQ(downloader_->GetState(), DOWNLOAD_IDLE);
    EXPECT_EQ(tarn_double::LiveTasks(), 0);
    int64_t total = -1, done = -1;
    EXPECT_FALSE(downloader_->GetProgress(total, done));
    EXPECT_EQ(total, -1);
}

TEST_F(TarnAdapter, MissingUrlOrPathIsRefusedAndCannotStart) {
    const char* cases[][2] = {
        {nullptr, "x"}, {"", "x"}, {"http://h/x", nullptr}, {"http://h/x", ""}};
    for (auto& c : cases) {
        EXPECT_TRUE(downloader_->SetTask(c[0], c[1], caller_, 1));
        EXPECT_EQ(downloader_->GetState(), DOWNLOAD_REFUSED);
        downloader_->Start();
        EXPECT_EQ(downloader_->GetState(), DOWNLOAD_REFUSED);
    }
}

}  // namespace
