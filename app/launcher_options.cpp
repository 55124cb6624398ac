#include "app/launcher_options.h"

#include "app/launch_app.h"

namespace {

constexpr platform::ProgramOption kOptions[] = {
    {"-direct", nullptr, "run here, without handing over to quillgate.bin"},
    {"--headless", nullptr,
     "show the update on the terminal instead of the window (also without a\n"
     "display); exit 0 when the client is up to date"},
    {"--json", nullptr,
     "with --headless: every event as one JSON object per line on standard\n"
     "output, and nothing else there"},
    {"--repair", nullptr,
     "with --headless, after the update check every file against the published\n"
     "list and restore the damaged ones; exit 0 only when the repair completed"},
    {"--start", nullptr, "then start the game"},
    {"--help", nullptr, "print this text and end"},
    {"--version", nullptr, "print the launcher's version and end"},
    {"--files", nullptr,
     "print the skin folder and the helper program this launcher uses, and end\n"
     "(\"skin FOLDER\", \"helper PROGRAM\")"},
};

bool LauncherOptions::*FieldOf(const std::string& name) {
    if (name == "-direct") return &LauncherOptions::direct;
    if (name == "--headless") return &LauncherOptions::headless;
    if (name == "--json") return &LauncherOptions::json;
    if (name == "--repair") return &LauncherOptions::repair;
    if (name == "--start") return &LauncherOptions::start;
    if (name == "--help") return &LauncherOptions::help;
    if (name == "--version") return &LauncherOptions::version;
    if (name == "--files") return &LauncherOptions::files;
    return nullptr;
}

}  // namespace

std::span<const platform::ProgramOption> LauncherOptionTable() { return kOptions; }

LauncherOptions ParseLauncherOptions(const std::vector<std::string>& args) {
    LauncherOptions options;
    for (const std::string& a : args) {
        if (platform::FindOption(kOptions, a) == nullptr) continue;
        if (bool LauncherOptions::*field = FieldOf(a)) options.*field = true;
    }
    return options;
}

std::vector<std::string> TerminalOptionsToPassOn(const std::vector<std::string>& args) {
    std::vector<std::string> passed;
    for (const std::string& a : args) {
        if (a == "--headless" || a == "--json" || a == "--start" || a == "--repair" ||
            a == kAfterSelfUpdateOption)
            passed.push_back(a);
    }
    return passed;
}
