// The multi-source transfer against mirrors on 127.0.0.1: good ones, misbehaving ones
// (tests/mirror_server.py) and a real FTP server, checked byte for byte.
#include <gtest/gtest.h>

#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>

#include "engine/multi_source_transfer.h"
#include "engine/resume_state.h"
#include "engine/tests/test_pattern.h"
#include "testing/hang_guard.h"
#include "testing/mirror_log.h"
#include "testing/python_server.h"
#include "testing/temp_dir.h"
#include "testing/test_bytes.h"
#include "testing/wait_until.h"

namespace {

namespace fs = std::filesystem;
using engine::MultiSourceTransfer;
using engine::TransferEnd;
using engine::TransferLimits;
using engine::TransferRequest;
using engine_test::Pattern;
using testing_support::Md5Hex;
using testing_support::PythonServer;
using testing_support::ReadFile;
using testing_support::WaitUntil;
using testing_support::WriteFile;

constexpr size_t kFileSize = 3 << 20;

// Runs a transfer to its end and reports how it ended.
class TransferRun {
  public:
    explicit TransferRun(TransferLimits limits = Quick()) : transfer(limits) {}
    static TransferLimits Quick() {
        TransferLimits limits;
        limits.noDataSeconds = 2;
        limits.saveIntervalMs = 200;
        return limits;
    }
    bool Start(TransferRequest request) {
        return transfer.Start(std::move(request), [this](TransferEnd end) {
            std::lock_guard<std::mutex> guard(lock_);
            end_ = end;
            ended_ = true;
            cv_.notify_all();
        });
    }
    // A transfer that has not ended within the step limit fails the test and is cancelled;
    // one that does not end even then ends the test binary (HangGuard).
    TransferEnd Wait() {
        std::unique_lock<std::mutex> guard(lock_);
        if (!cv_.wait_for(guard, testing_support::kStepLimit, [this] { return ended_; })) {
            ADD_FAILURE() << "the transfer did not end within the step limit; cancelled";
            guard.unlock();
            transfer.Cancel();
            guard.lock();
            testing_support::HangGuard hang("a cancelled transfer", std::chrono::seconds(60));
            cv_.wait(guard, [this] { return ended_; });
        }
        guard.unlock();
        transfer.Join();
        ended_ = false;
        return end_;
    }
    MultiSourceTransfer transfer;

  private:
    std::mutex lock_;
    std::condition_variable cv_;
    bool ended_ = false;
    TransferEnd end_ = TransferEnd::Failed;
};

class TransferTest : public ::testing::Test {
  protected:
    void SetUp() override {
        fs::create_directories(root_.path() / "site");
        WriteFile(root_.path() / "site/file.bin", data_);
    }
    std::unique_ptr<PythonServer> Mirror(const std::string& mode, int rate = 0) {
        std::vector<std::string> args = {(root_.path() / "site").string(), mode};
        if (rate > 0) args.push_back(std::to_string(rate));
        return std::make_unique<PythonServer>(QG_MIRROR_SERVER, args);
    }
    // Requests the mirror answered.
    int Asked(const std::string& mode, const PythonServer& mirror) {
        std::ifstream in(testing_support::MirrorLog(root_.path(), mode, mirror.port(), ".count"));
        int lines = 0;
        for (std::string line; std::getline(in, line);) ++lines;
        return lines;
    }
    TransferRequest Request(std::vector<std::string> urls, bool withMd5 = true) {
        TransferRequest r;
        r.target = target_;
        r.urls = std::move(urls);
        if (withMd5) r.md5 = Md5Hex(data_);
        return r;
    }
    // Nothing but the whole file at the target, and no state left beside it.
    void ExpectComplete(const std::string& what) {
        EXPECT_TRUE(ReadFile(target_) == data_) << what;
        EXPECT_FALSE(fs::exists(target_ + engine::kDataSuffix)) << what;
        EXPECT_FALSE(fs::exists(target_ + engine::kRegionMapSuffix)) << what;
    }

    testing_support::TempDir root_{"qg_transfer"};
    const std::string data_ = Pattern(0, kFileSize);
    const std::string target_ = (root_.path() / "out.bin").string();
};

TEST_F(TransferTest, ManyMirrorsAtOnceEachDeliverPartOfTheFile) {
    // Real web servers, each allowing two connections at 256 KiB/s apiece: slow enough
    // that the FTP mirror, which takes longer to set up, is still needed when it is ready.
    std::vector<std::unique_ptr<PythonServer>> mirrors;
    for (int i = 0; i < 3; ++i) {
        mirrors.push_back(std::make_unique<PythonServer>(
            QG_NGINX_SERVER,
            std::vector<std::string>{(root_.path() / "site").string(), "262144", "2"}));
    }
    PythonServer ftp(QG_REAL_FTP_SERVER, {(root_.path() / "site").string()});
    std::vector<std::string> urls;
    for (const auto& m : mirrors) urls.push_back(m->Url("/file.bin"));
    urls.push_back("ftp://127.0.0.1:" + std::to_string(ftp.port()) + "/file.bin");
    TransferRun run;
    ASSERT_TRUE(run.Start(Request(urls)));
    EXPECT_EQ(run.Wait(), TransferEnd::Completed) << run.transfer.lastError();
    ExpectComplete("three mirrors and FTP");
    for (const auto& m : mirrors) EXPECT_GT(Asked("nginx", *m), 0) << m->Url("/");
    EXPECT_GT(Asked("ftp", ftp), 0) << "the FTP mirror";
    EXPECT_EQ(run.transfer.status().received, static_cast<int64_t>(kFileSize));
}

TEST_F(TransferTest, MisbehavingMirrorsNeverLeaveAWrongFile) {
    struct Case {
        const char* mode;
        bool withGood;
        bool mustComplete;
    } cases[] = {
        {"norange", true, true},
        {"cut", true, true},
        {"stall", true, true},
        // The MD5 fails, the wrong mirror's bytes are fetched again from the good one.
        {"wrong", true, true},
        {"wrong", false, false},
    };
    auto good = Mirror("good", 4 << 20);
    // No time-out rescues a stalled connection here: its piece must go to the good mirror.
    TransferLimits patient = TransferRun::Quick();
    patient.noDataSeconds = 3600;
    for (const Case& c : cases) {
        const std::string what = std::string(c.mode) + (c.withGood ? " beside a good mirror" : "");
        fs::remove(target_);
        auto bad = Mirror(c.mode, 4 << 20);
        std::vector<std::string> urls = {bad->Url("/file.bin")};
        if (c.withGood) urls.push_back(good->Url("/file.bin"));
        TransferRun run(patient);
        ASSERT_TRUE(run.Start(Request(urls)));
        const TransferEnd end = run.Wait();
        if (std::string(c.mode) == "wrong") {
            EXPECT_EQ(run.transfer.status().lastBlamed, bad->Url("/file.bin")) << what;
        }
        if (end == TransferEnd::Completed) {
            ExpectComplete(what);
        } else {
            EXPECT_EQ(end, TransferEnd::Failed) << what;
            EXPECT_FALSE(fs::exists(target_)) << what;
            EXPECT_FALSE(c.mustComplete) << what << ": " << run.transfer.lastError();
        }
        EXPECT_GT(Asked(c.mode, *bad), 0) << what;
    }
}

TEST_F(TransferTest, CancelEndsEveryWaitOnAnFtpServerThatNeverAnswers) {
    // Time-outs of an hour: only the cancel ends the wait for the server's greeting, while
    // the transfer looks for the file's block list and while its first connection asks.
    PythonServer silent(QG_SCRIPTED_FTP_SERVER, {"silent"});
    TransferLimits patient = TransferRun::Quick();
    patient.noDataSeconds = 3600;
    for (const bool lookForList : {true, false}) {
        SCOPED_TRACE(lookForList ? "the block list" : "the first connection");
        TransferRun run(patient);
        TransferRequest request =
            Request({"ftp://127.0.0.1:" + std::to_string(silent.port()) + "/file.bin"});
        request.siblingBlockList = lookForList;
        ASSERT_TRUE(run.Start(request));
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        run.transfer.Cancel();
        EXPECT_EQ(run.Wait(), TransferEnd::Cancelled);
    }
}

TEST_F(TransferTest, AnswersShorterThanAskedAreKeptAndTheRestAskedAgain) {
    // Slow enough that the first request is cut short by the others' pieces.
    auto mirror = Mirror("short", 2 << 20);
    TransferRun run;
    ASSERT_TRUE(run.Start(Request({mirror->Url("/file.bin")})));
    EXPECT_EQ(run.Wait(), TransferEnd::Completed) << run.transfer.lastError();
    ExpectComplete("from a mirror that answers the start of each range");
    EXPECT_GT(Asked("short", *mirror), 10);
}

TEST_F(TransferTest, AMirrorSlowToAnswerIsNotTakenForStalled) {
    auto far = Mirror("distant");
    TransferRun run;
    ASSERT_TRUE(run.Start(Request({far->Url("/file.bin")})));
    EXPECT_EQ(run.Wait(), TransferEnd::Completed) << run.transfer.lastError();
    ExpectComplete("from a mirror that takes 2 s to answer");
}

TEST_F(TransferTest, AMirrorOfAnotherLengthIsDropped) {
    // Same path, another file: every range it answers names another length.
    fs::create_directories(root_.path() / "other");
    WriteFile(root_.path() / "other/file.bin", Pattern(3, kFileSize + 4096));
    PythonServer other(QG_MIRROR_SERVER, {(root_.path() / "other").string(), "good"});
    auto good = Mirror("good", 4 << 20);
    TransferRun run;
    ASSERT_TRUE(run.Start(Request({good->Url("/file.bin"), other.Url("/file.bin")}, false)));
    EXPECT_EQ(run.Wait(), TransferEnd::Completed) << run.transfer.lastError();
    ExpectComplete("beside a mirror of another length");
}

TEST_F(TransferTest, PeersAloneCannotTellTheLengthSoTheTransferFails) {
    auto peer = Mirror("good");
    TransferRun run;
    ASSERT_TRUE(run.Start(Request({"http://127.0.0.1:1/file.bin"})));
    run.transfer.AddSources({peer->Url("/file.bin")});
    EXPECT_EQ(run.Wait(), TransferEnd::Failed);
    EXPECT_FALSE(fs::exists(target_));
}

TEST_F(TransferTest, AWrongDigestLeavesNothingAtTheTarget) {
    auto good = Mirror("good");
    TransferRequest request = Request({good->Url("/file.bin")});
    request.md5 = std::string(32, '0');
    TransferRun run;
    ASSERT_TRUE(run.Start(request));
    EXPECT_EQ(run.Wait(), TransferEnd::Failed);
    EXPECT_FALSE(fs::exists(target_));
    EXPECT_FALSE(fs::exists(target_ + engine::kDataSuffix)) << "a wrong file is not resumed";
}

TEST_F(TransferTest, PausedTransferResumesAndAStateOfAnotherFileStartsAfresh) {
    auto slow = Mirror("good", 1 << 20);
    TransferRun run;
    ASSERT_TRUE(run.Start(Request({slow->Url("/file.bin")})));
    ASSERT_TRUE(WaitUntil([&] { return run.transfer.status().received >= (1 << 20); },
                          testing_support::kStepLimit, std::chrono::milliseconds(0)));
    run.transfer.Pause();
    ASSERT_EQ(run.Wait(), TransferEnd::Paused);
    EXPECT_FALSE(fs::exists(target_));
    const int64_t kept = run.transfer.status().received;

    // Resumed by its file alone: the rest comes from the saved state.
    auto fast = Mirror("good");
    TransferRequest resume;
    resume.target = target_;
    resume.resume = true;
    ASSERT_TRUE(run.Start(resume));
    EXPECT_EQ(run.Wait(), TransferEnd::Completed) << run.transfer.lastError();
    ExpectComplete("resumed");
    EXPECT_GE(kept, 1 << 20);

    // A state that names another URL is not trusted: garbage in its data file must not
    // survive into the new file.
    engine::ResumeFiles files(target_);
    engine::FileDescription other;
    other.blockSize = 262144;
    other.length = kFileSize;
    other.url = "http://127.0.0.1:1/other.bin";
    ASSERT_TRUE(files.SaveDescription(other));
    ASSERT_TRUE(files.SaveRegionMap({{0, 12, 12, engine::RegionState::Confirmed, 0, 0}}));
    WriteFile(target_ + engine::kDataSuffix, std::string(kFileSize + 100, 'x'));
    fs::remove(target_);
    TransferRequest again = Request({fast->Url("/file.bin")});
    again.resume = true;
    ASSERT_TRUE(run.Start(again));
    EXPECT_EQ(run.Wait(), TransferEnd::Completed) << run.transfer.lastError();
    ExpectComplete("another file's state");
}

TEST_F(TransferTest, AStateWhoseFileChangedLengthStartsAfresh) {
    auto slow = Mirror("good", 1 << 20);
    TransferRun run;
    ASSERT_TRUE(run.Start(Request({slow->Url("/file.bin")}, false)));
    ASSERT_TRUE(WaitUntil([&] { return run.transfer.status().received >= (1 << 20); },
                          testing_support::kStepLimit, std::chrono::milliseconds(0)));
    run.transfer.Pause();
    ASSERT_EQ(run.Wait(), TransferEnd::Paused);

    // The site publishes a new file under the same name: the held bytes are of the old one.
    const std::string published = Pattern(7, kFileSize + 4096);
    WriteFile(root_.path() / "site/file.bin", published);
    auto fast = Mirror("good");
    TransferRequest resume;
    resume.target = target_;
    resume.urls = {fast->Url("/file.bin")};
    resume.resume = true;
    // The state names the first mirror; the new one is asked in its place.
    engine::ResumeFiles files(target_);
    engine::FileDescription saved;
    ASSERT_TRUE(files.LoadDescription(saved));
    saved.url = resume.urls.front();
    ASSERT_TRUE(files.SaveDescription(saved));
    ASSERT_TRUE(run.Start(resume));
    EXPECT_EQ(run.Wait(), TransferEnd::Completed) << run.transfer.lastError();
    EXPECT_TRUE(ReadFile(target_) == published);
}

}  // namespace
