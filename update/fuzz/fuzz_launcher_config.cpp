// Fuzz target: arbitrary bytes as the client folder's "quillgate.cfg", "ver.id" and
// "style.cfg" (three parts of the input, see testing/fuzz_support.h), loaded as the
// launcher does at start-up, in a scratch folder made current. Whatever the files hold,
// the game executable is never empty and the cut values stay within their bounds.
#include <cstddef>
#include <cstdint>
#include <string>

#include "testing/fuzz_support.h"
#include "update/launcher_config.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Current only during the call: libFuzzer reads and writes its corpus by relative paths.
    const testing_support::ScopedCurrentDir inScratch(fuzz_support::Scratch().path());
    const auto parts = fuzz_support::SplitParts(data, size, 3);
    testing_support::WriteFile(kConfigFileName, parts[0]);
    testing_support::WriteFile("ver.id", parts[1]);
    testing_support::WriteFile(kStyleFileName, parts[2]);

    LauncherConfig config;
    if (!LoadLauncherConfig(kConfigFileName, config)) return 0;
    fuzz_support::Require(!config.gameExe.empty() && config.gameExe.size() <= kConfigPathValueMax,
                          "the game executable is set and bounded");
    for (const std::string& server : config.backupServers) {
        fuzz_support::Require(!server.empty() && server.find(';') == std::string::npos,
                              "backup servers are split at ';' without empty pieces");
    }
    return 0;
}
