// Fuzz target: arbitrary bytes as the local ".ver" and "ver.id" (two parts of the input,
// see testing/fuzz_support.h), read as the launcher reads them at start-up. A version
// read from a file is the first line (up to LF or CR LF) without its line end, cut at "|",
// and compares as the same as itself.
#include <cstddef>
#include <cstdint>
#include <string>

#include "testing/fuzz_support.h"
#include "update/version.h"
#include "update/version_files.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto parts = fuzz_support::SplitParts(data, size, 2);
    const auto& scratch = fuzz_support::Scratch();
    const std::string verPath = scratch / ".ver";
    const std::string idPath = scratch / "ver.id";
    testing_support::WriteFile(verPath, parts[0]);
    testing_support::WriteFile(idPath, parts[1]);

    std::string raw;
    if (ReadVersionFileText(verPath, raw)) {
        fuzz_support::Require(raw.size() <= 1023, "a version line is at most 1023 characters");
        // A lone CR is not a line end (the file is read in text mode) and stays.
        fuzz_support::Require(
            raw.find_first_of("|\n") == std::string::npos && (raw.empty() || raw.back() != '\r'),
            "a version text has no bar and no line end");
        const VersionNumber version = ParseVersion(raw);
        fuzz_support::Require(version.tag.size() <= kVersionTagMax, "the tag is bounded");
        fuzz_support::Require(version.number.size() <= kVersionNumberMax, "the number is bounded");
        if (!version.number.empty()) {
            fuzz_support::Require(CompareVersion(version, version) == CompareResult::Same,
                                  "a version is the same as itself");
        }
    }
    std::string edition;
    if (ReadEditionIdText(idPath, edition)) {
        fuzz_support::Require(edition.size() <= 1023, "an edition line is at most 1023 characters");
        (void)ChooseEditionSection(kDefaultConfigSection, edition,
                                   [](const std::string&) { return true; });
        const std::string none = ChooseEditionSection(kDefaultConfigSection, edition,
                                                      [](const std::string&) { return false; });
        fuzz_support::Require(none == kDefaultConfigSection,
                              "an edition without a section falls back to the default one");
    }
    return 0;
}
