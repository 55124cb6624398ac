// Fuzz target: arbitrary bytes as a downloaded repair file list. A list that is accepted
// names only files inside the client folder, counts exactly the entries it keeps and adds
// up their sizes without wrapping; a refused list keeps nothing.
#include <cstddef>
#include <cstdint>
#include <string>

#include "testing/fuzz_support.h"
#include "update/repair_list.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    RepairList list;
    if (ParseRepairList(text, list) != RepairListResult::Ok) {
        fuzz_support::Require(list.entryCount == 0 && list.looseFiles.empty(),
                              "a refused list keeps nothing");
        return 0;
    }
    uint64_t volume = 0;
    size_t entries = 0;
    for (const RepairEntry& e : list.looseFiles) {
        fuzz_support::Require(IsContainedRelativePath(e.path) && !IsSkippedLooseFile(e.path),
                              "loose files are inside the client and not the launcher's own");
        volume += e.size;
        ++entries;
    }
    for (const auto& [pack, packEntries] : list.packFiles) {
        fuzz_support::Require(IsContainedRelativePath(pack), "packs are inside the client");
        for (const RepairEntry& e : packEntries) {
            fuzz_support::Require(IsContainedRelativePath(e.path), "entry names stay inside");
            volume += e.size;
            ++entries;
        }
    }
    fuzz_support::Require(entries == list.entryCount && volume == list.totalVolume,
                          "the counts are those of the kept entries");
    return 0;
}
