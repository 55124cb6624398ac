// Fuzz target: arbitrary bytes as the patch-information file from an update server, then
// the chain planned from it. A chain that is found must be walkable: each step starts
// where the one before ended, moves forward, and an Ok chain reaches the newest version.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "testing/fuzz_support.h"
#include "update/patch_info.h"

namespace {

void CheckChain(const VersionNumber& installed, const PatchInfo& info) {
    std::vector<PatchStep> chain;
    const ChainResult result = ChooseChain(installed, info.latestVersion, info.patches, chain);
    VersionNumber current = installed;
    for (const PatchStep& step : chain) {
        fuzz_support::Require(CompareVersion(current, step.from) == CompareResult::Same,
                              "a step starts where the chain stands");
        fuzz_support::Require(CompareVersion(step.to, step.from) == CompareResult::Newer,
                              "a step moves forward");
        current = step.to;
    }
    if (result == ChainResult::Ok) {
        fuzz_support::Require(CompareVersion(current, info.latestVersion) != CompareResult::Older,
                              "an Ok chain reaches the newest version");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = fuzz_support::Scratch() / "patchinfo.txt";
    testing_support::WriteFile(path, std::string(reinterpret_cast<const char*>(data), size));
    PatchInfo info;
    if (!ReadPatchInfoFile(path, info)) return 0;
    CheckChain(info.latestVersion, info);
    CheckChain(ParseVersion("CN.1.0.0"), info);
    for (size_t i = 0; i < info.patches.size() && i < 4; ++i) {
        CheckChain(info.patches[i].from, info);
    }
    return 0;
}
