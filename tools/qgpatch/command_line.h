// qgpatch's commands as one table: what each takes, its help, and the function that runs
// it. One parser reads every command line against the table, and the help is printed from
// the same entries, so that what a command accepts and what its help says cannot part.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qgpatch {

struct CommandOption {
    const char* name;  // as typed: "-o", "--key"
    int values;        // how many arguments follow it (taken whatever they look like)
};

// A command line read against its command's options.
struct CommandLine {
    std::vector<std::string> operands;                                      // in the order given
    std::vector<std::pair<std::string, std::vector<std::string>>> options;  // in the order given

    bool Has(std::string_view name) const;
    // The value of a one-value option given last; "" when it was not given.
    std::string Value(std::string_view name) const;
    // The values of every use of an option that may be repeated, in order.
    std::vector<std::vector<std::string>> Uses(std::string_view name) const;
};

struct Command {
    const char* heading;  // a heading printed above the entry in the help, or nullptr
    const char* name;
    std::vector<CommandOption> options;
    const char* help;  // "  qgpatch NAME SYNOPSIS\n      what it does\n..."
    int (*run)(const CommandLine&);
};

// Reads `args` (those after the command's name): an argument spelled like an option ("-x",
// "--xyz") must be one of the command's, followed by its values; any other is an operand.
// False, with the usage error printed, for an unknown option or one without its values.
bool ParseCommandLine(const Command& command, const std::vector<std::string>& args,
                      CommandLine& out);

}  // namespace qgpatch
