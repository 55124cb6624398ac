// The launcher's own options, one table for their parsing and the help. Every other
// argument is the command line's business (CLaunchApp): the platform's "/V:" and "/N:"
// tokens and whatever a starter adds are passed over here, never refused.
#pragma once

#include <span>
#include <string>
#include <vector>

#include "platform/program_options.h"

struct LauncherOptions {
    bool direct = false;
    bool headless = false;
    bool json = false;
    bool repair = false;
    bool start = false;
    bool help = false;
    bool version = false;
    bool files = false;
    bool operator==(const LauncherOptions&) const = default;
};

std::span<const platform::ProgramOption> LauncherOptionTable();

// Reads the options of the table; anything else is skipped.
LauncherOptions ParseLauncherOptions(const std::vector<std::string>& args);

// The options a terminal launcher passes on to the copy it hands over to, and to a
// launcher restarted after a self-update: the terminal front end's own.
std::vector<std::string> TerminalOptionsToPassOn(const std::vector<std::string>& args);
