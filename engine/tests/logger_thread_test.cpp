// Many threads logging at once: every line arrives whole, once. Runs under ThreadSanitizer.
#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "engine/framework_log.h"
#include "engine/logger.h"
#include "testing/temp_dir.h"

namespace engine {
namespace {

constexpr int kThreads = 8;
constexpr int kLines = 300;

// Splits at "\r\n"; checks that each line matches `line` with groups (thread, number)
// and that every pair came exactly once.
void ExpectWholeLines(const std::string& text, const std::regex& line) {
    std::set<std::pair<int, int>> seen;
    size_t start = 0;
    for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
        std::smatch m;
        const std::string one = text.substr(start, end - start);
        ASSERT_TRUE(std::regex_match(one, m, line)) << one;
        EXPECT_TRUE(seen.emplace(std::stoi(m[1]), std::stoi(m[2])).second) << one;
    }
    EXPECT_EQ(start, text.size()) << "a line without its end";
    EXPECT_EQ(seen.size(), size_t{kThreads} * kLines);
}

std::string Padding(int thread) {
    return std::string(200 + thread * 37, static_cast<char>('a' + thread));
}

TEST(EngineLoggerThreads, ConcurrentLinesStayWholeWhileTheSinkIsReplaced) {
    testing_support::TempDir dir("qg_engine_log");
    const std::string path = dir / "engine.log";
    Logger logger;
    logger.Configure(path);
    std::atomic<bool> done{false};
    // Replacing the sink (re-opening the same file) must not cut or lose a line.
    std::thread replacer([&] {
        while (!done) logger.SetOutputKind(static_cast<uint32_t>(LogOutputKind::ByTarget));
    });
    std::vector<std::thread> writers;
    for (int t = 0; t < kThreads; ++t) {
        writers.emplace_back([&, t] {
            for (int i = 0; i < kLines; ++i) {
                logger.Log(kLogLevelInfo, "thread %d line %d %s", t, i, Padding(t).c_str());
            }
        });
    }
    for (std::thread& w : writers) w.join();
    done = true;
    replacer.join();
    logger.SetOutputKind(7);
    ExpectWholeLines(testing_support::ReadFile(path),
                     std::regex(R"(\[[A-Z][a-z]{2} \d{2} \d{2}:\d{2}:\d{2}\] \([0-9a-f]+\) )"
                                R"(thread (\d) line (\d+) ([a-z])\3*)"));
}

TEST(EngineLoggerThreads, FrameworkLogLinesStayWhole) {
    testing_support::TempDir dir("qg_engine_log");
    const std::string path = dir / "pxp.log";
    {
        pxp::FrameworkLog log(path);
        std::vector<std::thread> writers;
        for (int t = 0; t < kThreads; ++t) {
            writers.emplace_back([&, t] {
                pxp::RegisterThreadName("worker" + std::to_string(t));
                for (int i = 0; i < kLines; ++i) {
                    log.Write("test", "thread %d line %d %s", t, i, Padding(t).c_str());
                }
            });
        }
        for (std::thread& w : writers) w.join();
    }
    ExpectWholeLines(
        testing_support::ReadFile(path),
        std::regex(R"(\[[-0-9 :.]{23}\]\(test:worker(\d)\) thread \1 line (\d+) [a-z]+)"));
}

}  // namespace
}  // namespace engine
