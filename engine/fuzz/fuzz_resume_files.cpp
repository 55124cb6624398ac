// Fuzz target: arbitrary bytes as the two resume-state files of a task (description, then
// region map, split by fuzz_support::kPartSeparator), and as a CIniEx2 text.
// A store read back from its own text is the same store; an accepted description makes a
// bounded number of blocks; a map that is accepted has regions inside the file that do not
// overlap; a refused map leaves no region.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/ini_store.h"
#include "engine/resume_state.h"
#include "testing/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<std::string> parts = fuzz_support::SplitParts(data, size, 2);

    CIniEx2 ini;
    ini.Parse(parts[0]);
    for (const auto& [section, keys] : ini.sections()) {
        for (const auto& [key, value] : keys) {
            fuzz_support::Require(!key.empty() && !value.empty() && key.find('=') == key.npos,
                                  "a stored key and value are non-empty, the key without =");
        }
    }
    CIniEx2 again;
    again.Parse(ini.Serialize());
    fuzz_support::Require(again.Serialize() == ini.Serialize(), "a store reads back as written");

    const std::string target = fuzz_support::Scratch() / "file.bin";
    testing_support::WriteFile(target + engine::kDescriptionSuffix, parts[0]);
    testing_support::WriteFile(target + engine::kRegionMapSuffix, parts[1]);
    testing_support::WriteFile(target + engine::kDataSuffix, std::string(4096, 'd'));
    engine::ResumeFiles files(target);
    engine::FileDescription description;
    if (!files.LoadDescription(description)) {
        description.blockSize = 16;
        description.length = 1000;
    }
    const int64_t blocks = engine::BlockCount(description.length, description.blockSize);
    fuzz_support::Require(blocks >= 0 && blocks <= engine::kMaxBlocks,
                          "a loaded description makes a bounded number of blocks");
    std::vector<engine::Region> regions;
    if (!files.LoadRegionMap(description, regions)) {
        fuzz_support::Require(regions.empty(), "a refused map leaves no region");
        return 0;
    }
    std::sort(regions.begin(), regions.end(),
              [](const auto& a, const auto& b) { return a.start < b.start; });
    int64_t end = 0;
    for (const engine::Region& r : regions) {
        fuzz_support::Require(r.start >= end && r.length > 0, "regions do not overlap");
        end = int64_t{r.start} + r.length;
        if (description.length >= 0) {
            fuzz_support::Require(
                end * description.blockSize < description.length + description.blockSize,
                "regions lie inside the file");
        }
    }
    return 0;
}
