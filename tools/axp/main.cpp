// axp: the operators' pack tool, built over the AXP library's public API.
// Run "axp --help" for the commands.

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "axp/catalogue.h"
#include "axp/compress.h"
#include "axp/crc.h"
#include "axp/error.h"
#include "axp/format.h"
#include "axp/name_hash.h"
#include "axp/pack_file.h"
#include "common/cli.h"
#include "platform/text_encoding.h"

namespace {

namespace fs = std::filesystem;
using AXP::Catalogue;
using cli::LibraryFailure;
using cli::Usage;

constexpr char kHelp[] =
    "usage: axp COMMAND ARGS...\n"
    "\n"
    "Pack files (.pak) of the AXP format. Names on the command line are UTF-8 and are\n"
    "stored as GBK, normalised (small letters, \"/\"). Every command that changes a pack\n"
    "keeps its \"(list)\" catalogue current.\n"
    "\n"
    "  axp create PACK\n"
    "      create an empty pack (replaces an existing file)\n"
    "  axp add PACK PATH... [--type 0|1|2|3] [--name NAME] [--root DIR]\n"
    "      add files (directories recursively) under their names relative to DIR\n"
    "      (default: the current directory), or one file under NAME; existing entries\n"
    "      are replaced. Type: 0 stored, 1 XOR, 2 LZO, 3 LZMA (default 0). The pack is\n"
    "      created when missing.\n"
    "  axp rm PACK NAME...\n"
    "      remove entries\n"
    "  axp cat PACK NAME\n"
    "      write the decoded bytes of an entry to standard output\n"
    "  axp extract PACK DIR [NAME...]\n"
    "      write entries (default: every listed entry) as files under DIR\n"
    "  axp ls PACK\n"
    "      one line per listed entry: name, size, stored size, type, CRC\n"
    "  axp info PACK\n"
    "      the header's fields and the counts of used and free blocks\n"
    "  axp check PACK\n"
    "      consistency check against the catalogue; exit 1 on failure\n"
    "  axp hash NAME\n"
    "      the normalised name, its start slot (P mod 36353), hash A and hash B\n"
    "  axp crc FILE\n"
    "      the library CRC of a file as %08X\n"
    "  axp --version\n"
    "      the version of this tool\n"
    "\n"
    "Failures print the library's error code and text and exit 1; usage errors exit 2.\n";

std::string Display(const std::string& gbk) { return platform::GbkToUtf8Lossy(gbk); }

bool ReadWhole(const fs::path& path, std::vector<uint8_t>& data) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    data.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

bool OpenPack(AXP::PackFile& pack, const std::string& utf8Path, bool constMode) {
    std::string gbk;
    if (!cli::TextToGbk(utf8Path, gbk)) return false;
    if (!pack.Open(gbk, constMode)) {
        LibraryFailure("open " + utf8Path);
        return false;
    }
    return true;
}

// Encodes `content` with codec `type` and stores it as `name`.
bool AddContent(AXP::PackFile& pack, const std::string& name, std::vector<uint8_t> content,
                uint8_t type) {
    uint32_t length = static_cast<uint32_t>(content.size());
    const uint32_t unpacked = length;
    if (type != 0) {
        AXP::ICompress* codec = AXP::GetCompressManager().GetByType(type);
        if (codec == nullptr) return false;
        content.resize(std::max<size_t>(codec->GetMaxCompressedSize(length), 1));
        if (!codec->Compress(content.data(), static_cast<uint32_t>(content.size()), length)) {
            return false;
        }
    }
    return pack.AddFile(content.data(), length, name, true, false, type, unpacked);
}

int CmdCreate(const std::vector<std::string>& args) {
    if (args.size() != 1) return Usage("create needs PACK");
    std::string gbk;
    if (!cli::TextToGbk(args[0], gbk)) return 2;
    AXP::PackFile pack;
    if (!pack.Create(gbk)) return LibraryFailure("create");
    if (!AXP::WriteCatalogue(pack, {})) return LibraryFailure("write (list)");
    if (!pack.Close()) return LibraryFailure("close");
    return 0;
}

int CmdAdd(const std::vector<std::string>& argsIn) {
    std::vector<std::string> paths;
    int type = 0;
    std::string name, root = ".";
    bool haveName = false;
    for (size_t i = 0; i < argsIn.size(); ++i) {
        const std::string& a = argsIn[i];
        if ((a == "--type" || a == "--name" || a == "--root") && i + 1 >= argsIn.size()) {
            return Usage(a + " needs a value");
        }
        if (a == "--type") {
            const std::string v = argsIn[++i];
            if (v.size() != 1 || v[0] < '0' || v[0] > '3') return Usage("--type is 0, 1, 2 or 3");
            type = v[0] - '0';
        } else if (a == "--name") {
            name = argsIn[++i];
            haveName = true;
        } else if (a == "--root") {
            root = argsIn[++i];
        } else {
            paths.push_back(a);
        }
    }
    if (paths.size() < 2) return Usage("add needs PACK and at least one PATH");
    const std::string packPath = paths[0];
    paths.erase(paths.begin());

    // Collect (file, entry name) pairs.
    std::vector<std::pair<fs::path, std::string>> files;
    std::error_code ec;
    const fs::path rootAbs = fs::weakly_canonical(fs::absolute(root, ec), ec);
    for (const auto& p : paths) {
        fs::path path(p);
        if (fs::is_directory(path, ec)) {
            if (haveName) return Usage("--name takes one file, not a directory");
            std::vector<fs::path> found;
            for (auto it = fs::recursive_directory_iterator(path, ec);
                 !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
                if (it->is_regular_file()) found.push_back(it->path());
            }
            if (ec) return Usage("cannot walk " + p + ": " + ec.message());
            std::sort(found.begin(), found.end());
            for (auto& f : found) files.emplace_back(f, std::string());
        } else if (fs::is_regular_file(path, ec)) {
            files.emplace_back(path, std::string());
        } else {
            AXP::SetLastError(AXP::kErrNotFound, "%s", p.c_str());
            return LibraryFailure("add");
        }
    }
    if (haveName && files.size() != 1) return Usage("--name takes exactly one file");
    for (auto& [file, entry] : files) {
        std::string utf8;
        if (haveName) {
            utf8 = name;
        } else {
            const fs::path abs = fs::weakly_canonical(fs::absolute(file), ec);
            const fs::path rel = abs.lexically_relative(rootAbs);
            if (rel.empty() || *rel.begin() == "..") {
                return Usage(file.string() + " is not under the root " + root);
            }
            utf8 = rel.generic_string();
        }
        std::string gbk;
        if (!cli::TextToGbk(utf8, gbk)) return 2;
        entry = AXP::NormaliseName(gbk);
        if (entry.empty() || entry == AXP::kListFileName) {
            return Usage("invalid entry name \"" + utf8 + "\"");
        }
    }

    AXP::PackFile pack;
    std::string packGbk;
    if (!cli::TextToGbk(packPath, packGbk)) return 2;
    if (!fs::exists(packPath, ec)) {
        if (!pack.Create(packGbk)) return LibraryFailure("create");
    } else if (!pack.Open(packGbk, false)) {
        return LibraryFailure("open " + packPath);
    }
    Catalogue catalogue;
    if (!AXP::ReadCatalogue(pack, catalogue)) return LibraryFailure("read (list)");
    int rc = 0;
    for (const auto& [file, entry] : files) {
        std::vector<uint8_t> content;
        if (!ReadWhole(file, content)) {
            std::fprintf(stderr, "axp: cannot read %s\n", file.string().c_str());
            rc = 1;
            break;
        }
        if (content.size() > 0xFFFFFFF0u) {
            std::fprintf(stderr, "axp: %s is too large for a pack entry\n", file.string().c_str());
            rc = 1;
            break;
        }
        const AXP::CatalogueEntry listed{static_cast<uint32_t>(content.size()),
                                         AXP::Crc(content.data(), content.size())};
        if (!AddContent(pack, entry, std::move(content), static_cast<uint8_t>(type))) {
            rc = LibraryFailure("add " + file.string());
            break;
        }
        catalogue[entry] = listed;
    }
    if (!AXP::WriteCatalogue(pack, catalogue)) return LibraryFailure("write (list)");
    if (!pack.Close()) return LibraryFailure("close");
    return rc;
}

int CmdRm(const std::vector<std::string>& args) {
    if (args.size() < 2) return Usage("rm needs PACK and at least one NAME");
    AXP::PackFile pack;
    if (!OpenPack(pack, args[0], false)) return 1;
    Catalogue catalogue;
    if (!AXP::ReadCatalogue(pack, catalogue)) return LibraryFailure("read (list)");
    int rc = 0;
    for (size_t i = 1; i < args.size(); ++i) {
        std::string gbk;
        if (!cli::TextToGbk(args[i], gbk)) {
            rc = 2;
            continue;
        }
        const std::string entry = AXP::NormaliseName(gbk);
        if (entry == AXP::kListFileName) {
            rc = Usage("the catalogue (list) is not removed by rm");
            continue;
        }
        if (!pack.RemoveFile(gbk, false)) {
            rc = LibraryFailure("rm " + args[i]);
            continue;
        }
        catalogue.erase(entry);
    }
    if (!AXP::WriteCatalogue(pack, catalogue)) return LibraryFailure("write (list)");
    if (!pack.Close()) return LibraryFailure("close");
    return rc;
}

bool ReadEntry(AXP::PackFile& pack, const std::string& gbkName, std::vector<uint8_t>& data) {
    AXP::IStream* s = pack.OpenFile(gbkName);
    if (s == nullptr) return false;
    data.resize(s->GetSize());
    const uint32_t got =
        data.empty() ? 0 : s->Read(data.data(), static_cast<uint32_t>(data.size()));
    s->Release();
    if (got != data.size()) {
        if (AXP::GetLastErrorCode() == 0)
            AXP::SetLastError(AXP::kErrRead, "file=%s", gbkName.c_str());
        return false;
    }
    return true;
}

int CmdCat(const std::vector<std::string>& args) {
    if (args.size() != 2) return Usage("cat needs PACK and NAME");
    AXP::PackFile pack;
    if (!OpenPack(pack, args[0], true)) return 1;
    std::string gbk;
    if (!cli::TextToGbk(args[1], gbk)) return 2;
    std::vector<uint8_t> data;
    if (!ReadEntry(pack, gbk, data)) return LibraryFailure("cat " + args[1]);
    if (!data.empty() && std::fwrite(data.data(), 1, data.size(), stdout) != data.size()) {
        std::perror("axp: write");
        return 1;
    }
    return std::fflush(stdout) == 0 ? 0 : 1;
}

int CmdExtract(const std::vector<std::string>& args) {
    if (args.size() < 2) return Usage("extract needs PACK and DIR");
    AXP::PackFile pack;
    if (!OpenPack(pack, args[0], true)) return 1;
    std::vector<std::string> names;  // GBK
    if (args.size() > 2) {
        for (size_t i = 2; i < args.size(); ++i) {
            std::string gbk;
            if (!cli::TextToGbk(args[i], gbk)) return 2;
            names.push_back(AXP::NormaliseName(gbk));
        }
    } else {
        Catalogue catalogue;
        if (!AXP::ReadCatalogue(pack, catalogue)) return LibraryFailure("read (list)");
        for (const auto& kv : catalogue) names.push_back(kv.first);
    }
    int rc = 0;
    for (const auto& name : names) {
        std::string utf8;
        if (!platform::GbkToUtf8(name, utf8)) {
            std::fprintf(stderr, "axp: entry name is not valid GBK\n");
            rc = 1;
            continue;
        }
        const fs::path rel = fs::path(utf8).lexically_normal();
        if (rel.is_absolute() || rel.empty() || *rel.begin() == "..") {
            std::fprintf(stderr, "axp: refusing to write %s outside %s\n", utf8.c_str(),
                         args[1].c_str());
            rc = 1;
            continue;
        }
        std::vector<uint8_t> data;
        if (!ReadEntry(pack, name, data)) {
            rc = LibraryFailure("extract " + utf8);
            continue;
        }
        const fs::path out = fs::path(args[1]) / rel;
        std::error_code ec;
        fs::create_directories(out.parent_path(), ec);
        std::ofstream f(out, std::ios::binary | std::ios::trunc);
        f.write(reinterpret_cast<const char*>(data.data()),
                static_cast<std::streamsize>(data.size()));
        if (!f) {
            std::fprintf(stderr, "axp: cannot write %s\n", out.string().c_str());
            rc = 1;
        }
    }
    return rc;
}

int CmdLs(const std::vector<std::string>& args) {
    if (args.size() != 1) return Usage("ls needs PACK");
    AXP::PackFile pack;
    if (!OpenPack(pack, args[0], true)) return 1;
    Catalogue catalogue;
    if (!AXP::ReadCatalogue(pack, catalogue)) return LibraryFailure("read (list)");
    for (const auto& [name, e] : catalogue) {
        std::printf("%s\t%u\t%u\t%u\t%08X\n", Display(name).c_str(), pack.GetFileSize(name, false),
                    pack.GetFileSize(name, true), pack.GetCompressType(name), e.crc);
    }
    return 0;
}

int CmdInfo(const std::vector<std::string>& args) {
    if (args.size() != 1) return Usage("info needs PACK");
    AXP::PackFile pack;
    if (!OpenPack(pack, args[0], true)) return 1;
    AXP::PackInfo info;
    if (!pack.GetInfo(info)) return LibraryFailure("info");
    const AXP::PackHeader& h = info.header;
    std::printf("magic              0x%08X\n", h.magic);
    std::printf("version            0x%08X\n", h.version);
    std::printf("editing flag       %u\n", h.editing);
    std::printf("hash table offset  %u\n", h.hashTableOffset);
    std::printf("block table offset %u\n", h.blockTableOffset);
    std::printf("block count        %u\n", h.blockCount);
    std::printf("block table area   %u\n", h.blockTableAreaSize);
    std::printf("data area offset   %u\n", h.dataAreaOffset);
    std::printf("data used          %u\n", h.dataUsed);
    std::printf("free bytes         %u\n", h.freeBytes);
    std::printf("used blocks        %u\n", info.usedBlocks);
    std::printf("free blocks        %u\n", info.freeBlocks);
    std::printf("used hash slots    %u\n", info.usedSlots);
    std::printf("file size          %llu\n", static_cast<unsigned long long>(info.fileSize));
    return 0;
}

int CmdCheck(const std::vector<std::string>& args) {
    if (args.size() != 1) return Usage("check needs PACK");
    AXP::PackFile pack;
    if (!OpenPack(pack, args[0], true)) return 1;
    if (!pack.CheckConsistency(nullptr, nullptr, nullptr, nullptr)) return LibraryFailure("check");
    std::printf("OK\n");
    return 0;
}

int CmdHash(const std::vector<std::string>& args) {
    if (args.size() != 1) return Usage("hash needs NAME");
    std::string gbk;
    if (!cli::TextToGbk(args[0], gbk)) return 2;
    if (gbk.empty()) return Usage("the empty name is never hashed");
    const std::string normalised = AXP::NormaliseName(gbk);
    const AXP::NameHashes h = AXP::HashNormalisedName(normalised);
    std::printf("%s %u %08X %08X\n", Display(normalised).c_str(), h.position % AXP::kHashSlotCount,
                h.hashA, h.hashB);
    return 0;
}

int CmdCrc(const std::vector<std::string>& args) {
    if (args.size() != 1) return Usage("crc needs FILE");
    std::ifstream in(args[0], std::ios::binary);
    if (!in) {
        AXP::SetLastError(AXP::kErrNotFound, "%s", args[0].c_str());
        return LibraryFailure("crc");
    }
    uint32_t state = AXP::kCrcInit;
    char buf[65536];
    while (in.read(buf, sizeof(buf)) || in.gcount() > 0) {
        state = AXP::CrcUpdate(state, buf, static_cast<size_t>(in.gcount()));
        if (!in) break;
    }
    std::printf("%08X\n", AXP::CrcFinal(state));
    return 0;
}

}  // namespace

namespace cli {
const char kProgramName[] = "axp";
}

int main(int argc, char** argv) {
    if (cli::WantsHelp(argc, argv)) return cli::PrintHelp(argc >= 2, {kHelp});
    if (cli::WantsVersion(argc, argv)) return cli::PrintVersion();
    const std::string command = argv[1];
    const std::vector<std::string> args(argv + 2, argv + argc);
    // Only "add" takes options; every other command takes names alone.
    if (!cli::OnlyKnownOptions({{"create", {}},
                                {"add", {"--type", "--name", "--root"}},
                                {"rm", {}},
                                {"cat", {}},
                                {"extract", {}},
                                {"ls", {}},
                                {"info", {}},
                                {"check", {}},
                                {"hash", {}},
                                {"crc", {}}},
                               command, args))
        return 2;
    if (command == "create") return CmdCreate(args);
    if (command == "add") return CmdAdd(args);
    if (command == "rm") return CmdRm(args);
    if (command == "cat") return CmdCat(args);
    if (command == "extract") return CmdExtract(args);
    if (command == "ls") return CmdLs(args);
    if (command == "info") return CmdInfo(args);
    if (command == "check") return CmdCheck(args);
    if (command == "hash") return CmdHash(args);
    if (command == "crc") return CmdCrc(args);
    if (cli::LooksLikeOption(command)) return Usage("unknown option " + command);
    return Usage("unknown command \"" + command + "\"");
}
