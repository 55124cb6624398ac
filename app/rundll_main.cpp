// qg-rundll LIBRARY,ENTRY [ARGUMENT]: loads the library from the current folder, calls the
// entry with the argument text and ends. Exit codes: 0 the entry ran, 1 usage, 2 the
// library did not load, 3 it has no such entry.
#include <cstdio>
#include <cstring>
#include <string>

#include "app/rundll_entry.h"
#include "platform/dynamic_library.h"
#include "platform/program_options.h"

namespace {

constexpr int kShowNormal = 1;

constexpr platform::ProgramOption kOptions[] = {
    {"--help", nullptr, "print this help and end"},
    {"--version", nullptr, "print the version and end"},
};

constexpr const char* kSynopsis = "Usage: qg-rundll LIBRARY,ENTRY [ARGUMENT]\n";

int Help() {
    std::fputs(kSynopsis, stdout);
    std::fputs(
        "Loads LIBRARY (a path, relative to the current folder) and calls its entry ENTRY with\n"
        "the ARGUMENT text, as the launcher does for the client's helper libraries:\n"
        "  qg-rundll fmproxy.dll,CheckProcessEntry 0000ABCD\n"
        "\nOptions (alone, in place of LIBRARY,ENTRY):\n",
        stdout);
    platform::PrintOptions(stdout, kOptions);
    std::fputs(
        "\nExit status: 0 the entry ran, 1 usage error, 2 the library did not load, 3 it has\n"
        "no such entry.\n",
        stdout);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && platform::LooksLikeOption(argv[1])) {
        if (platform::FindOption(kOptions, argv[1]) == nullptr) {
            std::fprintf(stderr, "qg-rundll: unknown option %s\n%s", argv[1], kSynopsis);
            return 1;
        }
        if (std::strcmp(argv[1], "--help") == 0) return Help();
        return platform::PrintVersion("qg-rundll", QG_VERSION);
    }
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "%s", kSynopsis);
        return 1;
    }
    const std::string target = argv[1];
    const size_t comma = target.find(',');
    if (comma == std::string::npos || comma == 0 || comma + 1 == target.size()) {
        std::fprintf(stderr, "qg-rundll: expected LIBRARY,ENTRY, got \"%s\"\n", argv[1]);
        return 1;
    }
    const std::string libraryPath = target.substr(0, comma);
    const std::string entryName = target.substr(comma + 1);
    platform::DynamicLibrary library;
    if (!library.Load(libraryPath)) {
        std::fprintf(stderr, "qg-rundll: %s\n", library.error().c_str());
        return 2;
    }
    auto entry = reinterpret_cast<RundllEntry>(library.Symbol(entryName.c_str()));
    if (entry == nullptr) {
        std::fprintf(stderr, "qg-rundll: %s has no entry %s\n", libraryPath.c_str(),
                     entryName.c_str());
        return 3;
    }
    entry(nullptr, nullptr, argc == 3 ? argv[2] : "", kShowNormal);
    return 0;
}
