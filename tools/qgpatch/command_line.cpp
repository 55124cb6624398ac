#include "command_line.h"

#include <cstddef>

#include "common/cli.h"

namespace qgpatch {

bool CommandLine::Has(std::string_view name) const {
    for (const auto& [option, values] : options)
        if (option == name) return true;
    return false;
}

std::string CommandLine::Value(std::string_view name) const {
    std::string value;
    for (const auto& [option, values] : options)
        if (option == name && !values.empty()) value = values.front();
    return value;
}

std::vector<std::vector<std::string>> CommandLine::Uses(std::string_view name) const {
    std::vector<std::vector<std::string>> uses;
    for (const auto& [option, values] : options)
        if (option == name) uses.push_back(values);
    return uses;
}

bool ParseCommandLine(const Command& command, const std::vector<std::string>& args,
                      CommandLine& out) {
    out = CommandLine();
    const std::string name = command.name;
    for (size_t i = 0; i < args.size(); ++i) {
        if (!cli::LooksLikeOption(args[i])) {
            out.operands.push_back(args[i]);
            continue;
        }
        const CommandOption* option = nullptr;
        for (const CommandOption& o : command.options)
            if (args[i] == o.name) option = &o;
        if (option == nullptr) {
            cli::Usage(name + ": unknown option " + args[i]);
            return false;
        }
        if (args.size() - i - 1 < static_cast<size_t>(option->values)) {
            cli::Usage(name + ": " + args[i] +
                       (option->values == 1 ? " needs a value" : " needs its values"));
            return false;
        }
        std::vector<std::string> values(
            args.begin() + static_cast<std::ptrdiff_t>(i) + 1,
            args.begin() + static_cast<std::ptrdiff_t>(i) + 1 + option->values);
        out.options.emplace_back(args[i], std::move(values));
        i += static_cast<size_t>(option->values);
    }
    return true;
}

}  // namespace qgpatch
