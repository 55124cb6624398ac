#include "update/patch_info.h"

#include "platform/file_system.h"
#include "platform/profile.h"
#include "platform/text_file.h"

std::optional<uint64_t> ParseDecimal(std::string_view text) {
    if (text.empty() || text.size() > 19) return std::nullopt;
    uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<uint64_t>(c - '0');
    }
    return value;
}

namespace {

PublishedFile ReadPublishedFile(const std::string& sizeText, const std::string& digestText) {
    PublishedFile file;
    file.size = ParseDecimal(sizeText);
    Sha256Digest digest;
    if (ParseDigestHex(digestText, digest)) file.sha256 = digest;
    return file;
}

}  // namespace

bool ParsePatchInfo(std::string_view data, PatchInfo& info) {
    if (data.empty()) return false;
    // Parsed once and indexed: a site may publish thousands of patch sections.
    platform::ProfileDocument document;
    document.Parse(std::string(data));
    const std::vector<std::string>& sections = document.SectionNames();
    if (sections.empty()) return false;

    auto get = [&](std::string_view section, std::string_view key) {
        return document.Get(section, key, "");
    };
    info.latestRaw = get("latest", "latest");
    const std::string launcher = get("latest", "quillgate");
    info.newLauncherUrl = get("latest", "newquillgate");
    if (info.latestRaw.empty() || launcher.empty() || info.newLauncherUrl.empty()) return false;
    info.latestVersion = ParseVersion(info.latestRaw);
    info.launcherLatest = ParseVersion(launcher);
    info.launcherArchive =
        ReadPublishedFile(get("latest", "quillgatesize"), get("latest", "quillgatesha256"));
    info.serial = ParseDecimal(get("latest", "serial"));

    info.patches.clear();
    for (const std::string& name : sections) {
        if (name.compare(0, 6, "patch_") != 0) continue;
        const std::string from = get(name, "from");
        const std::string to = get(name, "to");
        const std::string url = get(name, "url");
        if (from.empty() || to.empty() || url.empty()) continue;
        PatchStep step{ParseVersion(from), ParseVersion(to), url,
                       ReadPublishedFile(get(name, "size"), get(name, "sha256")), std::nullopt};
        Sha256Digest blockList;
        if (ParseDigestHex(get(name, "blockssha256"), blockList)) step.blockListSha256 = blockList;
        info.patches.push_back(std::move(step));
    }
    return true;
}

bool ReadPatchInfoFile(std::string_view path, PatchInfo& info) {
    std::string data;
    const bool ok = platform::ReadWholeFile(path, data) && ParsePatchInfo(data, info);
    platform::DeleteFileAt(path);
    return ok;
}

ChainResult ChooseChain(const VersionNumber& installed, const VersionNumber& latest,
                        const std::vector<PatchStep>& patches, std::vector<PatchStep>& chain) {
    chain.clear();
    if (CompareVersion(installed, latest) == CompareResult::Incomparable)
        return ChainResult::Incomparable;
    VersionNumber current = installed;
    while (CompareVersion(current, latest) == CompareResult::Older) {
        const PatchStep* best = nullptr;
        for (const PatchStep& p : patches) {
            if (CompareVersion(current, p.from) != CompareResult::Same) continue;
            if (CompareVersion(p.to, p.from) != CompareResult::Newer)
                continue;  // would walk back or stand still
            if (best != nullptr && CompareVersion(p.to, best->to) != CompareResult::Newer) continue;
            best = &p;
        }
        if (best == nullptr) break;
        chain.push_back(*best);
        current = best->to;
    }
    return CompareVersion(current, latest) == CompareResult::Older ? ChainResult::NoWayForward
                                                                   : ChainResult::Ok;
}
