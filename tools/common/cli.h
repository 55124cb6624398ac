// What the operator tools (axp, qgpatch) say on the command line, shared so that both
// report usage errors, library failures and bad text the same way. Every message starts
// with the tool's own name, kProgramName, which each tool defines once.
#pragma once

#include <initializer_list>
#include <string>
#include <vector>

namespace cli {

// The running tool's name ("axp", "qgpatch"), defined by that tool.
extern const char kProgramName[];

// Prints "PROGRAM: WHAT failed: error CODE: TEXT" with the library's last error; exit code 1.
int LibraryFailure(const std::string& what);

// Prints the message and where the commands are listed; exit code 2.
int Usage(const std::string& message);

// UTF-8 command-line text -> GBK library string; on failure says so and returns false.
bool TextToGbk(const std::string& utf8, std::string& gbk);

// As TextToGbk for a path, whose existing components are first matched to the names on
// disk (platform::ResolveUtf8Path).
bool PathToGbk(const std::string& utf8, std::string& gbk);

// Run without a command, or with "--help", "-h" or "help".
bool WantsHelp(int argc, char** argv);

// Run with "--version": prints "PROGRAM VERSION" on one line; exit code 0.
bool WantsVersion(int argc, char** argv);
int PrintVersion();

// A command and the options it takes, each with one value (a table per tool, which its
// help lists).
struct CommandOptions {
    const char* command;
    std::initializer_list<const char*> options;
};

// Refuses an argument spelled like an option ("-x", "--xyz") that the command does not
// take, so that a mistyped option is never read as a file name: prints the usage error
// and returns false. A command missing from `table` is left to its own parser.
bool LooksLikeOption(const std::string& arg);
bool OnlyKnownOptions(std::initializer_list<CommandOptions> table, const std::string& command,
                      const std::vector<std::string>& args);

// Prints the help texts one after another: to standard output with exit code 0 when help
// was asked for, to standard error with exit code 2 when the command was missing.
int PrintHelp(bool asked, std::initializer_list<const char*> texts);

}  // namespace cli
