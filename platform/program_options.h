// The options of a program's command line as one table, read by its parser and printed as
// its help, so that the two cannot disagree. Header only: programs that carry no platform
// layer of their own (qg-get drives the engine through its C header alone) use it too.
#pragma once

#include <algorithm>
#include <cstdio>
#include <span>
#include <string>
#include <string_view>

namespace platform {

struct ProgramOption {
    const char* name;   // as typed: "--md5", "-o"
    const char* value;  // what follows it ("HEX"), or nullptr for a flag
    const char* help;   // one line, or several separated by "\n"
};

// The entry of `table` that `arg` names exactly; null when none does.
inline const ProgramOption* FindOption(std::span<const ProgramOption> table, std::string_view arg) {
    for (const ProgramOption& o : table)
        if (arg == o.name) return &o;
    return nullptr;
}

// True when `arg` is spelled like an option ("-x", "--xyz"), not an operand ("-" is one).
inline bool LooksLikeOption(std::string_view arg) { return arg.size() > 1 && arg[0] == '-'; }

// Writes "  NAME VALUE  help" per option, with the help texts in one column.
inline void PrintOptions(std::FILE* out, std::span<const ProgramOption> table) {
    size_t width = 0;
    auto head = [](const ProgramOption& o) {
        return std::string(o.name) + (o.value != nullptr ? std::string(" ") + o.value : "");
    };
    for (const ProgramOption& o : table) width = std::max(width, head(o).size());
    for (const ProgramOption& o : table) {
        std::string_view help = o.help;
        std::string first = head(o);
        for (;;) {
            const size_t end = std::min(help.find('\n'), help.size());
            std::fprintf(out, "  %-*s  %.*s\n", static_cast<int>(width), first.c_str(),
                         static_cast<int>(end), help.data());
            if (end == help.size()) break;
            help.remove_prefix(end + 1);
            first.clear();
        }
    }
}

// The answer to --version of the operator tools: "PROGRAM VERSION" on one line.
inline int PrintVersion(const char* program, const char* version) {
    std::printf("%s %s\n", program, version);
    return 0;
}

}  // namespace platform
