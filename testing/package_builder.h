// Test support for patch packages: building packages in each byte form, building client
// folders with packs, and taking a comparable snapshot of a client folder.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "axp/compress.h"
#include "axp/crc.h"
#include "axp/pack_file.h"
#include "axp/package_form.h"
#include "axp/updater.h"
#include "axp/zip_writer.h"
#include "testing/pack_test_util.h"

namespace axp_test {

struct ZipMember {
    std::string name;
    std::string data;
};

// Writes a package: "(command)" = `script`, then the members. Scrambled or sealed (or
// plain, for the refusal cases).
inline bool WritePackage(const std::string& path, AXP::PackageForm form, const std::string& script,
                         const std::vector<ZipMember>& members, bool deflate = true) {
    const std::string zip = path + ".zip";
    AXP::ZipWriter w;
    if (!w.Create(zip) || !w.Add("(command)", script.data(), script.size(), deflate)) return false;
    for (const auto& m : members) {
        if (!w.Add(m.name, m.data.data(), m.data.size(), deflate)) return false;
    }
    if (!w.Finish()) return false;
    bool ok = true;
    if (form == AXP::PackageForm::kScrambled) {
        ok = AXP::ScramblePackageFile(zip, path);
    } else if (form == AXP::PackageForm::kSealed) {
        ok = AXP::Updater().ConvertPackageForm(zip, path);
    } else {
        fs::copy_file(zip, path, fs::copy_options::overwrite_existing);
    }
    fs::remove(zip);
    return ok;
}

// The bytes of `data` encoded with codec `type` (0: as they are).
inline std::string Encode(const std::string& data, uint8_t type) {
    if (type == 0) return data;
    AXP::ICompress* codec = AXP::GetCompressManager().GetByType(type);
    std::string out(data);
    out.resize(
        std::max<size_t>(codec->GetMaxCompressedSize(static_cast<uint32_t>(data.size())), 1));
    uint32_t length = static_cast<uint32_t>(data.size());
    EXPECT_TRUE(codec->Compress(reinterpret_cast<uint8_t*>(out.data()),
                                static_cast<uint32_t>(out.size()), length));
    out.resize(length);
    return out;
}

struct PackEntry {
    std::string content;  // decoded
    uint8_t type = 0;
    uint32_t unpackedSize = 0;
    bool operator==(const PackEntry&) const = default;
};

// The "(list)" catalogue text of entries, as the pack tools write it.
inline std::string ListText(const std::map<std::string, PackEntry>& entries) {
    std::string text = std::to_string(entries.size()) + "\r\n";
    for (const auto& [name, e] : entries) {
        char tail[32];
        std::snprintf(tail, sizeof(tail), "|%08X|%08X\r\n", static_cast<unsigned>(e.content.size()),
                      AXP::Crc(e.content.data(), e.content.size()));
        text += name + tail;
    }
    return text;
}

// Creates a pack holding `entries` (content encoded with each entry's type) and "(list)".
inline void MakePack(const std::string& path, const std::map<std::string, PackEntry>& entries) {
    fs::create_directories(fs::path(path).parent_path());
    AXP::PackFile p;
    ASSERT_TRUE(p.Create(path));
    for (const auto& [name, e] : entries) {
        const std::string stored = Encode(e.content, e.type);
        ASSERT_TRUE(p.AddFile(stored.data(), static_cast<uint32_t>(stored.size()), name, true,
                              false, e.type, static_cast<uint32_t>(e.content.size())));
    }
    const std::string list = ListText(entries);
    ASSERT_TRUE(
        p.AddFile(list.data(), static_cast<uint32_t>(list.size()), "(list)", true, false, 0, 0));
    ASSERT_TRUE(p.Close());
}

// Every listed entry of a pack, decoded, plus "(list)" itself; `consistent` tells whether
// CheckConsistency passed.
inline std::map<std::string, PackEntry> ReadPack(const std::string& path, bool& consistent) {
    std::map<std::string, PackEntry> out;
    consistent = false;
    AXP::PackFile p;
    if (!p.Open(path, true)) return out;
    consistent = p.CheckConsistency(nullptr, nullptr, nullptr, nullptr);
    auto read = [&p](const std::string& name) {
        PackEntry e;
        e.type = p.GetCompressType(name);
        e.unpackedSize = p.GetFileSize(name, false);
        e.content.resize(e.unpackedSize);
        if (!p.ReadFileData(name, true, e.content.data(), e.unpackedSize))
            e.content = "<unreadable>";
        return e;
    };
    out["(list)"] = read("(list)");
    const std::string& list = out["(list)"].content;
    size_t start = list.find('\n');
    while (start != std::string::npos && start + 1 < list.size()) {
        const size_t end = list.find('\n', start + 1);
        const std::string line = list.substr(start + 1, end - start - 1);
        const std::string name = line.substr(0, line.find('|'));
        if (!name.empty()) out[name] = read(name);
        start = end;
    }
    return out;
}

// A comparable picture of a client folder: loose files by content, packs ("*.pak") entry
// by entry. `inconsistent` collects the packs that fail CheckConsistency.
struct ClientSnapshot {
    std::map<std::string, std::string> files;
    std::map<std::string, std::map<std::string, PackEntry>> packs;
    std::vector<std::string> inconsistent;
    bool operator==(const ClientSnapshot& o) const { return files == o.files && packs == o.packs; }
};

inline ClientSnapshot Snapshot(const fs::path& dir) {
    ClientSnapshot s;
    for (auto it = fs::recursive_directory_iterator(dir); it != fs::recursive_directory_iterator();
         ++it) {
        if (!it->is_regular_file()) continue;
        const std::string rel = fs::relative(it->path(), dir).generic_string();
        if (it->path().extension() == ".pak") {
            bool consistent = false;
            s.packs[rel] = ReadPack(it->path().string(), consistent);
            if (!consistent) s.inconsistent.push_back(rel);
        } else {
            auto bytes = ReadFileBytes(it->path().string());
            s.files[rel].assign(bytes.begin(), bytes.end());
        }
    }
    return s;
}

inline std::string Describe(const ClientSnapshot& a, const ClientSnapshot& b) {
    std::string out;
    for (const auto& [name, data] : a.files) {
        auto it = b.files.find(name);
        if (it == b.files.end())
            out += "only left: " + name + "\n";
        else if (it->second != data)
            out += "differs: " + name + "\n";
    }
    for (const auto& [name, data] : b.files) {
        if (!a.files.count(name)) out += "only right: " + name + "\n";
    }
    for (const auto& [pack, entries] : a.packs) {
        auto it = b.packs.find(pack);
        if (it == b.packs.end()) {
            out += "pack only left: " + pack + "\n";
            continue;
        }
        for (const auto& [name, e] : entries) {
            auto jt = it->second.find(name);
            if (jt == it->second.end())
                out += "entry only left: " + pack + ":" + name + "\n";
            else if (!(jt->second == e))
                out += "entry differs: " + pack + ":" + name + "\n";
        }
        for (const auto& [name, e] : it->second) {
            if (!entries.count(name)) out += "entry only right: " + pack + ":" + name + "\n";
        }
    }
    for (const auto& [pack, entries] : b.packs) {
        if (!a.packs.count(pack)) out += "pack only right: " + pack + "\n";
    }
    return out;
}

}  // namespace axp_test
