#include "platform/process_output.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace platform {
namespace {

TEST(RunForOutput, ReportsHowTheProgramEnded) {
    struct Case {
        const char* name;
        std::string path;
        std::vector<std::string> args;
        size_t maxOutput;
        RunOutcome outcome;
        std::string output;
        int exitCode;
    } cases[] = {
        {"prints and exits", "/bin/echo", {"CN.9.1"}, 4096, RunOutcome::Exited, "CN.9.1\n", 0},
        {"exit code kept", "/bin/sh", {"-c", "echo x; exit 3"}, 4096, RunOutcome::Exited, "x\n", 3},
        {"stderr is not output",
         "/bin/sh",
         {"-c", "echo err >&2"},
         4096,
         RunOutcome::Exited,
         "",
         0},
        {"missing program", "./no-such-launcher", {}, 4096, RunOutcome::StartFailed, "", -1},
        {"not a program", "/etc/hostname", {}, 4096, RunOutcome::StartFailed, "", -1},
        {"killed by a signal",
         "/bin/sh",
         {"-c", "kill -SEGV $$"},
         4096,
         RunOutcome::Crashed,
         "",
         -1},
        {"endless output", "/usr/bin/yes", {}, 1000, RunOutcome::Killed, "", -1},
        // Never finishes: ended by the time-out (the outcome, not the time, is checked).
        {"hangs", "/bin/sleep", {"600"}, 4096, RunOutcome::Killed, "", -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string output;
        int exitCode = -1;
        EXPECT_EQ(RunForOutput(c.path, c.args, 300, c.maxOutput, output, exitCode), c.outcome);
        if (c.outcome != RunOutcome::Killed) {
            EXPECT_EQ(output, c.output);
        }
        EXPECT_EQ(exitCode, c.exitCode);
    }
}

}  // namespace
}  // namespace platform
