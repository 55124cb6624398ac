// The patch-information file published on the update servers, and the choice of the
// chain of patches that leads from the installed version to the newest one.
//
// The file is a profile (INI) file: section "latest" with the keys "latest" (newest client
// version), "quillgate" (newest launcher version) and "newquillgate" (where that launcher
// is published), and one section per patch whose name begins with "patch_", with the
// keys "from", "to" and "url".
//
// A signed site adds what lets the launcher check every file it fetches: "size" (decimal)
// and "sha256" (64 hex digits) of each patch's package, "blockssha256" (64 hex digits) of
// the package's block list published beside it (URL + ".blocks"), and in "latest" the keys
// "quillgatesize", "quillgatesha256" (of the launcher archive) and "serial" (a decimal
// that grows with every publication). A value that does not parse is held as absent.
// The format, field by field: docs/formats/patch-information.md
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "update/sha256.h"
#include "update/version.h"

// What a signed site publishes of one file.
struct PublishedFile {
    std::optional<uint64_t> size;
    std::optional<Sha256Digest> sha256;
    bool complete() const { return size.has_value() && sha256.has_value(); }
};

struct PatchStep {
    VersionNumber from;
    VersionNumber to;
    std::string url;
    PublishedFile package;
    // What the download engine checks every block of the package against, from whichever
    // server or player it comes.
    std::optional<Sha256Digest> blockListSha256;
};

struct PatchInfo {
    std::string latestRaw;
    VersionNumber latestVersion;
    VersionNumber launcherLatest;
    std::string newLauncherUrl;
    std::vector<PatchStep> patches;  // every complete "patch_" section, in file order
    PublishedFile launcherArchive;
    std::optional<uint64_t> serial;
};

// A decimal of at most 19 digits and nothing else.
std::optional<uint64_t> ParseDecimal(std::string_view text);

// Reads the file at `path` into `info`, then deletes the file (whether or not it was
// valid). False when the file is missing or empty, has no sections, or lacks one of the
// three "latest" keys.
bool ReadPatchInfoFile(std::string_view path, PatchInfo& info);
// The same checks on the file's bytes (a signed file is checked in memory).
bool ParsePatchInfo(std::string_view data, PatchInfo& info);

enum class ChainResult {
    Ok,
    Incomparable,  // the installed and newest versions have different tags
    NoWayForward,  // no published patch continues the walk before the newest version
};

// Walks from `installed` towards `latest`, at each version taking the patch that starts
// there and reaches furthest (the first in file order among equals). A patch whose "to"
// is not newer than its "from" is never taken, so the walk always ends.
ChainResult ChooseChain(const VersionNumber& installed, const VersionNumber& latest,
                        const std::vector<PatchStep>& patches, std::vector<PatchStep>& chain);
