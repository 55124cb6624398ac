#include "app/launch_app.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "testing/temp_dir.h"
#include "update/position_key.h"

namespace {

using testing_support::ReadFile;
using testing_support::WriteFile;

class LaunchAppTest : public ::testing::Test {
  protected:
    void SetUp() override {
        unsetenv("TARVO_USER_ID");
        unsetenv("TARVO_SESSION_ID");
    }
    static void WriteEdition(std::string id) {
        ScrambleBuffer(id.data(), id.size());
        WriteFile("ver.id", id);
    }
    static std::string Env(const char* name) {
        const char* v = std::getenv(name);
        return v ? v : "(unset)";
    }
    testing_support::TempDir dir_{"qg_launch"};
    testing_support::ScopedCurrentDir cwd_{dir_.path()};
};

TEST_F(LaunchAppTest, InstalledCopyKeepsTheTailFromTheSessionToken) {
    struct Case {
        std::string commandLine;
        std::string exePath;
        std::string platformArgs;
        bool direct;
    } cases[] = {
        {"x /V:abc /N:trv~u1", "/games/c/quillgate.exe", "/V:abc /N:trv~u1", false},
        {"", "/games/c/quillgate.exe", "", false},
        {"-direct", "/games/c/quillgate.exe", "", true},
        {"a-directb /V:s", "/games/c/quillgate.exe", "/V:s", true},
        // Only the lower-case name takes the platform arguments.
        {"/V:abc /N:trv~u1", "/games/c/QUILLGATE.EXE", "", false},
        {"/V:" + std::string(2000, 's'), "/c/quillgate.exe", "/V:" + std::string(1020, 's'), false},
    };
    for (const Case& c : cases) {
        CLaunchApp app;
        std::string error;
        EXPECT_TRUE(app.ParseCommandLine(c.commandLine, c.exePath, error)) << c.commandLine;
        EXPECT_EQ(app.PlatformArgs, c.platformArgs) << c.commandLine;
        EXPECT_EQ(app.DirectMode, c.direct) << c.commandLine;
    }
}

TEST_F(LaunchAppTest, PlatformEditionChecksTheLogin) {
    struct Case {
        std::string commandLine;
        bool accepted;
        std::string user;
        std::string session;
    } cases[] = {
        {"/N:trv~u1 /V:s1", true, "u1", "s1"},
        {"/V:s1 /N:trv~u1", true, "u1", "s1"},
        {"/V:s1 /N:trv~", false, "(unset)", "(unset)"},
        {"/V:s1 /N:abcdu1", false, "(unset)", "(unset)"},
        {"/V:s1", false, "(unset)", "(unset)"},
        {"/V: /N:trv~u1", false, "(unset)", "(unset)"},
        {"/V:" + std::string(300, 's') + " /N:trv~u1", false, "(unset)", "(unset)"},
        {"/V:s1 /N:trv~" + std::string(60, 'u'), false, "(unset)", "(unset)"},
    };
    WriteEdition("tarvo");
    for (const Case& c : cases) {
        SetUp();
        CLaunchApp app;
        std::string error;
        EXPECT_EQ(app.ParseCommandLine(c.commandLine, "/c/quillgate.bin", error), c.accepted)
            << c.commandLine;
        EXPECT_EQ(error, c.accepted ? "" : kPlatformLoginRequired) << c.commandLine;
        EXPECT_EQ(Env("TARVO_USER_ID"), c.user) << c.commandLine;
        EXPECT_EQ(Env("TARVO_SESSION_ID"), c.session) << c.commandLine;
    }
}

TEST_F(LaunchAppTest, OrdinaryEditionAcceptsAnyCommandLine) {
    for (const char* edition : {"", "tarvo ", "TW"}) {
        if (*edition) WriteEdition(edition);
        CLaunchApp app;
        std::string error;
        EXPECT_TRUE(app.ParseCommandLine("anything at all", "/c/quillgate.bin", error)) << edition;
        EXPECT_EQ(Env("TARVO_USER_ID"), "(unset)");
    }
}

TEST(LaunchRole, ByFileNameAndDirectMode) {
    EXPECT_EQ(CLaunchApp::DecideRole("/c/quillgate.exe", false), LaunchRole::HandOver);
    EXPECT_EQ(CLaunchApp::DecideRole("/c/QuillGate.EXE", false), LaunchRole::HandOver);
    EXPECT_EQ(CLaunchApp::DecideRole("/c/quillgate.exe", true), LaunchRole::Dialog);
    EXPECT_EQ(CLaunchApp::DecideRole("/c/quillgate.bin", false), LaunchRole::Dialog);
    EXPECT_EQ(CLaunchApp::DecideRole("/quillgate.exe/other", false), LaunchRole::Dialog);
}

TEST_F(LaunchAppTest, HandOverReplacesAReadOnlyCopyAndStartsItWithThePlatformArguments) {
    // The "launcher" records the arguments it was started with.
    WriteFile("quillgate.exe", "#!/bin/sh\necho \"$# $*\" > started.txt\n");
    chmod("quillgate.exe", 0755);
    WriteFile("quillgate.bin", "old copy");
    chmod("quillgate.bin", 0444);

    CLaunchApp app;
    app.PlatformArgs = "/V:abc /N:trv~u1";
    ASSERT_TRUE(app.PerformHandOver());
    EXPECT_EQ(ReadFile("quillgate.bin"), ReadFile("quillgate.exe"));
    EXPECT_NE(
        std::filesystem::status("quillgate.bin").permissions() & std::filesystem::perms::owner_exec,
        std::filesystem::perms::none);
    for (int i = 0; i < 500 && ReadFile("started.txt").empty(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(ReadFile("started.txt"), "2 /V:abc /N:trv~u1\n");
}

}  // namespace
