#include <gtest/gtest.h>

#include <filesystem>

#include "platform/process.h"
#include "testing/temp_dir.h"

namespace platform {
namespace {

TEST(WaitForProcessFor, GivesUpOnARunningProcessAndCanWaitAgain) {
    testing_support::TempDir dir("qg_wait");
    const std::string release = dir / "release";
    // Ends with code 7 once "release" exists (or after about ten seconds).
    const std::string script =
        "for i in $(seq 1000); do [ -e '" + release + "' ] && exit 7; sleep 0.01; done; exit 1";
    uint32_t id = 0;
    ASSERT_TRUE(StartProcess("/bin/sh", {"-c", script}, "", &id));
    EXPECT_EQ(WaitForProcessFor(id, 0), kProcessStillRunning);
    EXPECT_EQ(WaitForProcessFor(id, 30), kProcessStillRunning);
    testing_support::WriteFile(release, "");
    EXPECT_EQ(WaitForProcessFor(id, 60000), 7);
    EXPECT_EQ(WaitForProcessFor(id, 0), -1);  // already reaped
}

}  // namespace
}  // namespace platform
