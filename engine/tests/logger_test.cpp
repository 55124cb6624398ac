#include "engine/logger.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <string>

#include "engine/framework_log.h"
#include "testing/temp_dir.h"

namespace engine {
namespace {

using testing_support::ReadFile;
using testing_support::TempDir;

// A logger writing to a file of a fresh folder.
struct FileLoggerFixture {
    TempDir dir{"qg_engine_log"};
    std::string path = dir / "engine.log";
    Logger logger;
    FileLoggerFixture() {
        logger.SetTarget(path);
        logger.SetOutputKind(static_cast<uint32_t>(LogOutputKind::ByTarget));
    }
    std::string Text() const { return ReadFile(path); }
};

TEST(EngineLogger, NullTargetWritesNothingAndCreatesNoFile) {
    TempDir dir("qg_engine_log");
    testing_support::ScopedCurrentDir here(dir.path());
    Logger logger;
    logger.Configure("null");
    logger.LogAll("dropped");
    pxp::FrameworkLog framework("null");
    framework.Write("test", "dropped too");
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
    EXPECT_EQ(logger.FileName(), "");
}

TEST(EngineLogger, ThresholdAndMaskFilters) {
    struct Row {
        uint32_t mode, level, messageLevel;
        bool passes;
    } rows[] = {
        {1, 1, 1, true},  {1, 1, 4, true},         {1, 1, 0, false}, {1, 4, 1, false},
        {1, 4, 8, true},  {1, 32767, 32767, true}, {2, 1, 1, true},  {2, 1, 4, false},
        {2, 1, 8, false}, {2, 12, 4, true},        {2, 12, 8, true}, {2, 12, 1, false},
        {0, 1, 1, false}, {3, 1, 32767, false},
    };
    for (const Row& row : rows) {
        FileLoggerFixture f;
        f.logger.SetFlags(kNoPrefix);
        f.logger.SetFilterMode(row.mode);
        f.logger.SetLevel(row.level);
        f.logger.Log(row.messageLevel, "message %u", row.messageLevel);
        EXPECT_EQ(f.Text(), row.passes ? "message " + std::to_string(row.messageLevel) : "")
            << "mode " << row.mode << " level " << row.level << " message " << row.messageLevel;
    }
}

TEST(EngineLogger, PrefixAndLineEndFlags) {
    const std::string prefix = R"(\[[A-Z][a-z]{2} \d{2} \d{2}:\d{2}:\d{2}\] \([0-9a-f]+\) )";
    struct Row {
        uint32_t flags;
        std::string pattern;
    } rows[] = {
        {0, prefix + "hello 7"},
        {kCrLfLineEnd | kHoldLockWhileFormatting, prefix + "hello 7\r\n"},
        {kNoPrefix, "hello 7"},
        {kNoPrefix | kCrLfLineEnd, "hello 7\r\n"},
    };
    for (const Row& row : rows) {
        FileLoggerFixture f;
        f.logger.SetFlags(row.flags);
        f.logger.Log(kLogLevelInfo, "hello %d", 7);
        EXPECT_TRUE(std::regex_match(f.Text(), std::regex(row.pattern)))
            << "flags " << row.flags << ": " << f.Text();
    }
}

TEST(EngineLogger, OverlongMessagesAreCutAndKeepTheirLineEnd) {
    const std::string huge(10000, 'x');
    for (uint32_t flags : {uint32_t{kCrLfLineEnd}, uint32_t{kNoPrefix | kCrLfLineEnd}}) {
        FileLoggerFixture f;
        f.logger.SetFlags(flags);
        f.logger.Log(kLogLevelInfo, "%s", huge.c_str());
        const std::string text = f.Text();
        EXPECT_EQ(text.size(), 4095u) << flags;
        EXPECT_EQ(text.substr(text.size() - 3), "x\r\n") << flags;
    }
}

TEST(EngineLogger, SettersReturnThePreviousValue) {
    Logger logger;
    EXPECT_EQ(logger.SetLevel(4), 1u);
    EXPECT_EQ(logger.SetLevel(8), 4u);
    EXPECT_EQ(logger.SetFilterMode(2), 1u);
    EXPECT_EQ(logger.SetFlags(kNoPrefix), 0u);
    EXPECT_EQ(logger.SetFlags(0), uint32_t{kNoPrefix});
    EXPECT_EQ(logger.SetTarget("stdout"), "null");
    EXPECT_EQ(logger.SetOutputKind(2), 1u);
    EXPECT_EQ(logger.SetOutputKind(7), 2u);
}

TEST(EngineLogger, OutputKindsAndTargetsChooseTheStream) {
    struct Row {
        uint32_t kind;
        std::string target;
        bool toStdout, toStderr;
    } rows[] = {
        {0, "null", false, true},        {2, "null", true, false},  {1, "stdout", true, false},
        {1, "debugstring", false, true}, {1, "null", false, false}, {9, "stdout", false, false},
    };
    for (const Row& row : rows) {
        Logger logger;
        logger.SetFlags(kNoPrefix);
        logger.SetTarget(row.target);
        logger.SetOutputKind(row.kind);
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        logger.LogAll("to the stream");
        const std::string out = testing::internal::GetCapturedStdout();
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(out, row.toStdout ? "to the stream" : "") << row.kind << " " << row.target;
        EXPECT_EQ(err, row.toStderr ? "to the stream" : "") << row.kind << " " << row.target;
    }
}

TEST(EngineLogger, RandomTargetMakesANewLogFileInTheTemporaryFolder) {
    Logger logger;
    logger.Configure("random");
    const std::string name = logger.FileName();
    const std::filesystem::path path(name);
    EXPECT_TRUE(
        std::filesystem::equivalent(path.parent_path(), std::filesystem::temp_directory_path()));
    EXPECT_EQ(path.filename().string().rfind("log", 0), 0u) << name;
    EXPECT_EQ(path.extension(), ".log");
    logger.LogAll("into the random file");
    logger.SetOutputKind(7);  // closes it
    EXPECT_NE(ReadFile(name).find("into the random file\r\n"), std::string::npos);
    std::filesystem::remove(name);

    Logger second;
    second.Configure("random");
    EXPECT_NE(second.FileName(), name);
    std::filesystem::remove(second.FileName());
}

TEST(FrameworkLog, LineFormatAndThreadNames) {
    TempDir dir("qg_engine_log");
    const std::string path = dir / "pxp.log";
    {
        pxp::FrameworkLog log(path);
        log.Write("net", "unnamed %d", 1);
        pxp::RegisterThreadName("worker");
        log.Write("disk", "named %s", "two");
    }
    const std::string stamp = R"(\[\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\.\d{3}\])";
    EXPECT_TRUE(
        std::regex_match(ReadFile(path), std::regex(stamp + R"(\(net:Thread \d+\) unnamed 1\r\n)" +
                                                    stamp + R"(\(disk:worker\) named two\r\n)")))
        << ReadFile(path);
}

TEST(FrameworkLog, EachStartKeepsThePreviousRunAsBak) {
    TempDir dir("qg_engine_log");
    const std::string path = dir / "pxp.log";
    for (const char* run : {"first", "second", "third"}) {
        pxp::FrameworkLog log(path);
        log.Write("run", "%s", run);
    }
    EXPECT_NE(ReadFile(path).find(") third\r\n"), std::string::npos);
    EXPECT_EQ(ReadFile(path).find("second"), std::string::npos);
    EXPECT_NE(ReadFile(path + ".bak").find(") second\r\n"), std::string::npos);
    EXPECT_EQ(ReadFile(path + ".bak").find("first"), std::string::npos);
}

}  // namespace
}  // namespace engine
