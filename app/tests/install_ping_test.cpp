#include "app/install_ping.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/file_lock.h"
#include "testing/python_server.h"
#include "testing/temp_dir.h"

namespace {

using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

TEST(ReadTrimmedFirstLine, KeepsAtMost31CharactersOfTheTrimmedFirstLine) {
    TempDir dir("qg_trim");
    struct Case {
        std::string content;
        std::string name;
    };
    const std::vector<Case> cases = {
        {" \tabc \t\r\nsecond line\n", "abc"},
        {"abc", "abc"},
        {"a b\tc  \n", "a b\tc"},
        {" \t \r\n", ""},
        {"", ""},
        {"\nabc\n", ""},
        {std::string(40, 'x') + "\n", std::string(31, 'x')},
        {"   " + std::string(40, 'y'), std::string(28, 'y')},  // the blanks count
    };
    for (const Case& c : cases) {
        WriteFile(dir / "(register)", c.content);
        EXPECT_EQ(ReadTrimmedFirstLine(dir / "(register)"), c.name) << c.content;
    }
    EXPECT_EQ(ReadTrimmedFirstLine(dir / "missing"), "");
}

TEST(RegisterPingUrl, EscapesTheNameSoThatItCannotChangeTheQuery) {
    EXPECT_EQ(RegisterPingUrl("http://h/r.asp", "abc-1.2_x~"),
              "http://h/r.asp?name=abc-1.2_x~&gameid=1");
    EXPECT_EQ(RegisterPingUrl("http://h/r", "a&gameid=9#x y"),
              "http://h/r?name=a%26gameid%3D9%23x%20y&gameid=1");
    EXPECT_EQ(RegisterPingUrl("http://h/r", "\xD6\xD0"), "http://h/r?name=%D6%D0&gameid=1");
    // A cut address would report another name: none is sent.
    EXPECT_EQ(RegisterPingUrl("http://h/" + std::string(1000, 'p'), "abcdefghij"), "");
}

// A client folder with "(register)", the lock in a private runtime folder and the counting
// server, which logs each request path and answers with a chosen reply.
class InstallPingTest : public ::testing::Test {
  protected:
    void SetUp() override {
        oldRuntime_ = getenv("XDG_RUNTIME_DIR") ? getenv("XDG_RUNTIME_DIR") : "";
        setenv("XDG_RUNTIME_DIR", dir_.path().c_str(), 1);
        WriteFile("(register)", " \tabc \r\n");
    }
    void TearDown() override {
        if (oldRuntime_.empty()) {
            unsetenv("XDG_RUNTIME_DIR");
        } else {
            setenv("XDG_RUNTIME_DIR", oldRuntime_.c_str(), 1);
        }
    }

    std::string Requests() const { return ReadFile(dir_ / "requests.log"); }

    TempDir dir_{"qg_install_ping"};
    testing_support::ScopedCurrentDir cwd_{dir_.path()};
    std::string oldRuntime_;
};

TEST_F(InstallPingTest, OnlyASuccessReplyDeletesTheRegisterFile) {
    struct Case {
        const char* reply;
        bool deleted;
    };
    const std::vector<Case> cases = {
        {"SUCCESS\\r\\n", true},
        {"SUCCESS", true},
        {"  SUCCESS \\t\\n", true},
        {"SUCCESS!", false},
        {"success", false},
        {"FAILED", false},
        {"", false},
        {"SUCC\\nESS", false},
    };
    for (const Case& c : cases) {
        WriteFile("(register)", " \tabc \r\n");
        std::filesystem::remove(dir_ / "requests.log");
        testing_support::PythonServer server(QG_REGISTER_SERVER, {c.reply, dir_ / "requests.log"});
        InstallRegisterPing ping(server.Url("/reg.asp"));
        ASSERT_TRUE(ping.Prepare());
        ping.StartThread();
        ping.WaitForReport();
        EXPECT_EQ(Requests(), "/reg.asp?name=abc&gameid=1\n") << c.reply;
        EXPECT_EQ(std::filesystem::exists("(register)"), !c.deleted) << c.reply;
    }
}

TEST_F(InstallPingTest, NothingIsSentWithoutANameOrWhileAnotherLauncherReports) {
    testing_support::PythonServer server(QG_REGISTER_SERVER, {"SUCCESS", dir_ / "requests.log"});
    {
        InstallRegisterPing ping(server.Url("/reg.asp"));
        ASSERT_TRUE(ping.Prepare());
        platform::FileLock otherLauncher;
        ASSERT_EQ(otherLauncher.AcquireNative(dir_ / kRegisterLockName),
                  platform::FileLock::Result::Acquired);
        ping.RegisterPingThread();
        EXPECT_EQ(Requests(), "");
        EXPECT_TRUE(std::filesystem::exists("(register)"));
    }
    WriteFile("(register)", " \t\r\n");
    InstallRegisterPing ping(server.Url("/reg.asp"));
    EXPECT_FALSE(ping.Prepare());
    ping.StartThread();
    ping.RegisterPingThread();
    EXPECT_EQ(Requests(), "");
}

TEST_F(InstallPingTest, ServerThatNeverAnswersIsGivenUpWithinTheTimeOut) {
    // A listening socket that never answers: the request hangs until the ping gives up.
    testing_support::PythonServer silent(QG_REGISTER_SERVER, {"--silent", dir_ / "requests.log"});
    InstallRegisterPing ping(silent.Url("/reg.asp"));
    ping.SetTimeoutMs(200);
    ASSERT_TRUE(ping.Prepare());
    ping.RegisterPingThread();
    EXPECT_TRUE(std::filesystem::exists("(register)"));
}

}  // namespace
