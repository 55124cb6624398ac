// Calls racing each other on running tasks: every thread may call every function.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

#include "quillgate/tarn.h"
#include "testing/hang_guard.h"
#include "testing/python_server.h"
#include "testing/temp_dir.h"
#include "testing/test_bytes.h"

namespace {

using testing_support::PythonServer;
using testing_support::RandomBytes;
using testing_support::ReadFile;
using testing_support::TempDir;

uint32_t State(TarnTask* task) {
    unsigned char block[TARN_STATUS_BLOCK_SIZE];
    TarnGetStatusInfo(task, block);
    uint32_t state = 0;
    std::memcpy(&state, block + TARN_STATUS_STATE_OFFSET, sizeof state);
    return state;
}

class TarnThreadTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::filesystem::create_directories(dir_.path() / "site");
        std::ofstream(dir_ / "site/f.bin", std::ios::binary) << data_;
    }
    TempDir dir_{"tarn_threads"};
    std::string data_ = RandomBytes(1 << 20, 21);
};

TEST_F(TarnThreadTest, StopsFromManyThreadsEndOnceAndResumeRight) {
    PythonServer server(QG_MIRROR_SERVER, {dir_ / "site", "good", "2000000"});
    const std::string target = dir_ / "out.bin";
    TarnTask* task = CreateTarnTask();
    ASSERT_EQ(TarnDownloadUrl(task, server.Url("/f.bin").c_str(), "", target.c_str()), 1);
    std::atomic<bool> go{false};
    std::vector<std::thread> callers;
    for (int t = 0; t < 4; ++t) {
        callers.emplace_back([&, t] {
            while (!go.load()) std::this_thread::yield();
            for (int i = 0; i < 200; ++i) {
                unsigned char block[TARN_STATUS_BLOCK_SIZE];
                TarnGetStatusInfo(task, block);
                if (i == 50 + t) (t % 2 ? TarnPauseDownload : TarnCancelDownload)(task);
                EXPECT_EQ(TarnPauseDownloadUrllist(task), 1);  // no list: nothing to pause
            }
        });
    }
    go = true;
    for (std::thread& c : callers) c.join();
    EXPECT_EQ(TarnWaitDownload(task), 1);
    const uint32_t state = State(task);
    EXPECT_TRUE(state == TARN_STATUS_PAUSED || state == TARN_STATUS_ENDED ||
                state == TARN_STATUS_COMPLETED)
        << state;
    // Whatever stopped it, the next runs finish the same file right.
    for (int run = 0; run < 5 && State(task) != TARN_STATUS_COMPLETED; ++run) {
        ASSERT_EQ(TarnDownloadUrl(task, server.Url("/f.bin").c_str(), "", target.c_str()), 1);
        EXPECT_EQ(TarnWaitDownload(task), 1);
    }
    EXPECT_EQ(State(task), uint32_t{TARN_STATUS_COMPLETED});
    EXPECT_TRUE(ReadFile(target) == data_);
    EXPECT_EQ(DestroyTarnTask(task), 1);
}

TEST_F(TarnThreadTest, TasksRunSideBySideAndDestroyStopsARunningOne) {
    PythonServer server(QG_MIRROR_SERVER, {dir_ / "site", "good", "4000000"});
    constexpr int kTasks = 3;
    std::vector<std::thread> runners;
    std::atomic<int> complete{0};
    for (int i = 0; i < kTasks; ++i) {
        runners.emplace_back([&, i] {
            TarnTask* task = CreateTarnTask();
            const std::string target = dir_ / ("out" + std::to_string(i));
            if (TarnDownloadUrl(task, server.Url("/f.bin").c_str(), "", target.c_str()) == 1 &&
                TarnWaitDownload(task) == 1 && State(task) == TARN_STATUS_COMPLETED &&
                ReadFile(target) == data_) {
                ++complete;
            }
            DestroyTarnTask(task);
        });
    }
    // Destroyed at once, from another thread than the one that started it.
    TarnTask* doomed = CreateTarnTask();
    ASSERT_EQ(TarnDownloadUrl(doomed, server.Url("/f.bin").c_str(), "", (dir_ / "doomed").c_str()),
              1);
    std::thread destroyer([doomed] { EXPECT_EQ(DestroyTarnTask(doomed), 1); });
    destroyer.join();
    for (std::thread& r : runners) r.join();
    EXPECT_EQ(complete.load(), kTasks);
    EXPECT_FALSE(std::filesystem::exists(dir_ / "doomed"));
}

// Calls run on the task's thread race its end: each is answered, whether it came before the
// end, during the last drain of the queue or after it (then the task is idle and takes the
// name itself), and none leaves its name behind.
TEST_F(TarnThreadTest, FileNameCallsRacingTheEndAreAllAnswered) {
    PythonServer server(QG_MIRROR_SERVER, {dir_ / "site", "good"});
    testing_support::HangGuard guard("file name calls racing the end", std::chrono::seconds(120));
    for (int run = 0; run < 3; ++run) {
        TarnTask* task = CreateTarnTask();
        const std::string target = dir_ / ("out" + std::to_string(run));
        ASSERT_EQ(TarnDownloadUrl(task, server.Url("/f.bin").c_str(), "", target.c_str()), 1);
        std::atomic<int> taken{0};
        std::vector<std::thread> callers;
        for (int t = 0; t < 4; ++t) {
            callers.emplace_back([&, t] {
                const std::string name = dir_ / ("other" + std::to_string(t));
                for (int i = 0; i < 2000 && taken.load() < 4; ++i) {
                    if (TarnSetFileName(task, name.c_str()) == 1) ++taken;
                }
            });
        }
        for (std::thread& c : callers) c.join();
        EXPECT_EQ(TarnWaitDownload(task), 1);
        EXPECT_EQ(State(task), uint32_t{TARN_STATUS_COMPLETED});
        EXPECT_TRUE(ReadFile(target) == data_);
        EXPECT_EQ(TarnSetFileName(task, (dir_ / "idle").c_str()), 1);  // idle: taken at once
        EXPECT_EQ(DestroyTarnTask(task), 1);
    }
}

}  // namespace
