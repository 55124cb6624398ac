#include "app/launcher_options.h"

#include <gtest/gtest.h>

namespace {

// The help prints the table; each option it names must change what the launcher does.
TEST(LauncherOptions, EveryOptionOfTheHelpIsRead) {
    const LauncherOptions none = ParseLauncherOptions({"x", "/V:abc", "/N:trv~u1", "--frob"});
    EXPECT_EQ(none, LauncherOptions{});
    for (const platform::ProgramOption& option : LauncherOptionTable()) {
        SCOPED_TRACE(option.name);
        EXPECT_EQ(option.value, nullptr);
        EXPECT_NE(ParseLauncherOptions({"x", option.name}), none);
    }
}

TEST(LauncherOptions, TheTerminalOptionsArePassedOnInOrder) {
    EXPECT_EQ(TerminalOptionsToPassOn({"-direct", "--json", "/V:s", "--headless", "--start",
                                       "--repair", "--after-self-update", "--help"}),
              (std::vector<std::string>{"--json", "--headless", "--start", "--repair",
                                        "--after-self-update"}));
}

}  // namespace
