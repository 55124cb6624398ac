// Fuzz target: arbitrary bytes as a downloaded repair file list and, after the part
// separator, its signed companion of digests. A list that is accepted names only files
// inside the client folder, each once, counts exactly the entries it keeps and adds up
// their sizes without wrapping; a refused list or companion keeps nothing; digests that
// attach give every entry one.
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>

#include "testing/fuzz_support.h"
#include "update/repair_digests.h"
#include "update/repair_list.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<std::string> parts = fuzz_support::SplitParts(data, size, 2);
    const std::string& text = parts[0];
    RepairDigests digests;
    if (!ParseRepairDigests(parts[1], digests))
        fuzz_support::Require(digests.files.empty() && digests.version.empty() &&
                                  digests.serial == 0 && digests.listSize == 0,
                              "refused digests keep nothing");
    RepairList list;
    if (ParseRepairList(text, list) != RepairListResult::Ok) {
        fuzz_support::Require(list.entryCount == 0 && list.looseFiles.empty() &&
                                  list.packFiles.empty() && list.totalVolume == 0 &&
                                  list.lineCount == 0,
                              "a refused list keeps nothing");
        return 0;
    }
    uint64_t volume = 0;
    size_t entries = 0;
    std::set<std::string> named;
    for (const RepairEntry& e : list.looseFiles) {
        fuzz_support::Require(IsContainedRelativePath(e.path) && !IsSkippedLooseFile(e.path),
                              "loose files are inside the client and not the launcher's own");
        fuzz_support::Require(named.insert(RepairEntryKey("", e.path)).second &&
                                  list.packFiles.count(RepairEntryKey("", e.path).substr(1)) == 0,
                              "a loose file is named once and is no pack");
        volume += e.size;
        ++entries;
    }
    for (const auto& [pack, packEntries] : list.packFiles) {
        fuzz_support::Require(IsContainedRelativePath(pack) && !IsLauncherPack(pack),
                              "packs are inside the client and not the launcher's own");
        for (const RepairEntry& e : packEntries) {
            fuzz_support::Require(IsContainedRelativePath(e.path), "entry names stay inside");
            fuzz_support::Require(named.insert(RepairEntryKey(pack, e.path)).second,
                                  "an entry is named once in its pack");
            volume += e.size;
            ++entries;
        }
    }
    fuzz_support::Require(entries == list.entryCount && volume == list.totalVolume &&
                              list.entryCount <= list.lineCount,
                          "the counts are those of the kept entries");
    if (AttachRepairDigests(text, digests, list)) {
        for (const RepairEntry& e : list.looseFiles)
            fuzz_support::Require(e.sha256.has_value(), "attached digests name every file");
        for (const auto& [pack, packEntries] : list.packFiles)
            for (const RepairEntry& e : packEntries)
                fuzz_support::Require(e.sha256.has_value(), "attached digests name every file");
    }
    return 0;
}
