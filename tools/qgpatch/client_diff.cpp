#include "client_diff.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>

#include "axp/catalogue.h"
#include "axp/crc.h"
#include "axp/error.h"
#include "axp/format.h"
#include "axp/name_hash.h"
#include "axp/pack_file.h"
#include "platform/text_encoding.h"

namespace qgpatch {

namespace {

namespace fs = std::filesystem;

constexpr char kPackExtension[] = ".pak";

struct ClientFile {
    fs::path path;     // native
    std::string name;  // normalised GBK, relative to the client folder
};

// Normalised name -> file, for every regular file under `dir`.
bool ListClient(const std::string& dir, std::map<std::string, ClientFile>& out,
                std::string& error) {
    std::error_code ec;
    if (!fs::is_directory(dir, ec)) {
        error = dir + " is not a folder";
        return false;
    }
    for (auto it = fs::recursive_directory_iterator(dir, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (!it->is_regular_file()) continue;
        std::string gbk;
        const std::string rel = fs::relative(it->path(), dir).generic_string();
        if (!platform::Utf8ToGbk(rel, gbk)) {
            error = rel + " has a name GBK cannot hold";
            return false;
        }
        const std::string name = AXP::NormaliseName(gbk);
        if (!out.emplace(name, ClientFile{it->path(), name}).second) {
            error = rel + " differs from another file of " + dir + " only in case";
            return false;
        }
    }
    if (ec) error = "cannot walk " + dir + ": " + ec.message();
    return !ec;
}

std::optional<std::string> ReadWhole(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) return std::nullopt;
    return data;
}

bool IsPackName(const std::string& name) {
    return name.size() > 4 && name.compare(name.size() - 4, 4, kPackExtension) == 0;
}

bool OpenPack(AXP::PackFile& pack, const fs::path& path) {
    std::string gbk;
    return platform::Utf8ToGbk(path.string(), gbk) && pack.Open(gbk, true);
}

// One entry's bytes for the package: as stored, or decoded.
bool EntryContent(AXP::PackFile& pack, const std::string& name, bool compressedContent,
                  std::string& out) {
    const bool decode = !compressedContent && pack.GetCompressType(name) != 0;
    out.resize(pack.GetFileSize(name, !decode));
    return out.empty() ||
           pack.ReadFileData(name, decode, out.data(), static_cast<uint32_t>(out.size()));
}

struct PackDiff {
    std::vector<AXP::ScriptCommand> commands;
    std::map<std::string, std::string> members;
};

// Entry-by-entry difference of two readable packs; false when either cannot be read.
bool DiffPack(const ClientFile& oldFile, const ClientFile& newFile, bool compressedContent,
              PackDiff& out) {
    AXP::PackFile oldPack, newPack;
    AXP::Catalogue oldList, newList;
    if (!OpenPack(oldPack, oldFile.path) || !OpenPack(newPack, newFile.path) ||
        !AXP::ReadCatalogue(oldPack, oldList) || !AXP::ReadCatalogue(newPack, newList)) {
        return false;
    }
    auto write = [&](const std::string& entry) {
        AXP::ScriptCommand c{AXP::kOpWrite, newFile.name, entry, newPack.GetCompressType(entry),
                             newPack.GetFileSize(entry, false)};
        std::string content;
        if (!EntryContent(newPack, entry, compressedContent, content)) return false;
        out.members[entry] = std::move(content);
        out.commands.push_back(std::move(c));
        return true;
    };
    for (const auto& [entry, listed] : newList) {
        auto old = oldList.find(entry);
        const bool same = old != oldList.end() && old->second.size == listed.size &&
                          old->second.crc == listed.crc &&
                          oldPack.GetCompressType(entry) == newPack.GetCompressType(entry);
        if (!same && !write(entry)) return false;
    }
    for (const auto& [entry, listed] : oldList) {
        if (newList.count(entry) == 0) {
            out.commands.push_back({AXP::kOpRemove, newFile.name, entry, 0, 0});
        }
    }
    std::string oldCatalogue, newCatalogue;
    if (!EntryContent(oldPack, AXP::kListFileName, false, oldCatalogue) ||
        !EntryContent(newPack, AXP::kListFileName, false, newCatalogue)) {
        return false;
    }
    if (oldCatalogue != newCatalogue && !write(AXP::kListFileName)) return false;
    return true;
}

// Adds members unless one of them is already there with other content.
bool AddMembersWithoutClash(std::map<std::string, std::string>& members,
                            const std::map<std::string, std::string>& add) {
    for (const auto& [name, data] : add) {
        auto it = members.find(name);
        if (it != members.end() && it->second != data) return false;
    }
    members.insert(add.begin(), add.end());
    return true;
}

}  // namespace

bool DiffClients(const std::string& oldDir, const std::string& newDir, bool compressedContent,
                 PatchContent& out, std::string& error) {
    out = PatchContent{};
    std::map<std::string, ClientFile> oldFiles, newFiles;
    if (!ListClient(oldDir, oldFiles, error) || !ListClient(newDir, newFiles, error)) return false;

    std::vector<std::pair<const ClientFile*, const ClientFile*>> packPairs;
    auto writeWhole = [&](const ClientFile& file) {
        std::optional<std::string> data = ReadWhole(file.path);
        if (!data) {
            error = "cannot read " + file.path.string();
            return false;
        }
        const auto size = static_cast<uint32_t>(data->size());
        if (!AddMembersWithoutClash(out.members, {{file.name, std::move(*data)}})) {
            error = "two files need different content under one name: " +
                    platform::GbkToUtf8Lossy(file.name);
            return false;
        }
        out.commands.push_back({AXP::kOpWrite, "", file.name, 0, size});
        return true;
    };
    // Loose files first: they cannot fall back to anything.
    for (const auto& [name, file] : newFiles) {
        auto old = oldFiles.find(name);
        if (old != oldFiles.end() && IsPackName(name)) {
            packPairs.emplace_back(&old->second, &file);
            continue;
        }
        if (old != oldFiles.end()) {
            std::optional<std::string> a = ReadWhole(old->second.path), b = ReadWhole(file.path);
            if (a && b && a->size() == b->size() &&
                AXP::Crc(a->data(), a->size()) == AXP::Crc(b->data(), b->size())) {
                continue;
            }
        }
        if (!writeWhole(file)) return false;
    }
    for (const auto& [name, file] : oldFiles) {
        if (newFiles.count(name) == 0) out.commands.push_back({AXP::kOpRemove, "", name, 0, 0});
    }
    // Every pack's catalogue is the member "(list)", so usually only one pack can travel
    // entry by entry: the largest gets that chance first.
    std::error_code ec;
    std::stable_sort(packPairs.begin(), packPairs.end(), [&ec](const auto& a, const auto& b) {
        return fs::file_size(a.second->path, ec) > fs::file_size(b.second->path, ec);
    });
    for (const auto& [oldFile, newFile] : packPairs) {
        PackDiff diff;
        if (DiffPack(*oldFile, *newFile, compressedContent, diff) &&
            AddMembersWithoutClash(out.members, diff.members)) {
            out.commands.insert(out.commands.end(), diff.commands.begin(), diff.commands.end());
            continue;
        }
        // Unreadable, or an entry name another pack needs with other content: carry the
        // new pack whole, unless it did not change at all.
        std::optional<std::string> a = ReadWhole(oldFile->path), b = ReadWhole(newFile->path);
        if (a && b && *a == *b) continue;
        if (!writeWhole(*newFile)) return false;
    }
    return true;
}

}  // namespace qgpatch
