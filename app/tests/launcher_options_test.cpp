#include "app/launcher_options.h"

#include <gtest/gtest.h>

namespace {

// The help prints the table; each option it names must change what the launcher does.
TEST(LauncherOptions, EveryOptionOfTheHelpIsRead) {
    const LauncherOptions none = ParseLauncherOptions({"x", "/V:abc", "/N:trv~u1", "--frob"});
    EXPECT_EQ(none, LauncherOptions{});
    for (const platform::ProgramOption& option : LauncherOptionTable()) {
        SCOPED_TRACE(option.name);
        std::vector<std::string> args{"x", option.name};
        if (option.value != nullptr) args.push_back("30");
        EXPECT_NE(ParseLauncherOptions(args), none);
    }
    EXPECT_EQ(ParseLauncherOptions({"--seed", "30"}).seedSeconds, 30u);
    EXPECT_EQ(ParseLauncherOptions({"--seed", "3x"}).seedSeconds, 0u);
    EXPECT_EQ(ParseLauncherOptions({"--seed", "99999999999"}).seedSeconds, UINT32_MAX);
}

TEST(LauncherOptions, TheTerminalOptionsArePassedOnInOrder) {
    EXPECT_EQ(
        TerminalOptionsToPassOn({"-direct", "--json", "/V:s", "--headless", "--start", "--repair",
                                 "--after-self-update", "--seed", "60", "--help"}),
        (std::vector<std::string>{"--json", "--headless", "--start", "--repair",
                                  "--after-self-update", "--seed", "60"}));
}

}  // namespace
