#include "repair_site.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <string_view>

#include "axp/catalogue.h"
#include "axp/crc.h"
#include "axp/pack_file.h"
#include "axp/stream.h"
#include "common/cli.h"
#include "platform/text_encoding.h"
#include "signing_commands.h"
#include "update/repair_digests.h"
#include "update/repair_list.h"
#include "update/sha256.h"
#include "update/signature.h"
#include "update/url.h"
#include "update/version_files.h"

namespace qgpatch {

namespace {

namespace fs = std::filesystem;

constexpr size_t kChunk = 1 << 20;

// What the launcher keeps for itself in a client folder: never part of a release.
bool IsLauncherState(const std::string& relative) {
    if (relative == "server.lst") return true;
    return relative.size() > 4 && relative.compare(relative.size() - 4, 4, ".~dl") == 0;
}

bool IsPack(const std::string& relative) {
    if (relative.size() < 4) return false;
    std::string tail = relative.substr(relative.size() - 4);
    for (char& c : tail)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    return tail == ".pak";
}

std::string Hex8(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof(text), "%08X", value);
    return text;
}

// A name as the operator can read it in a message: control bytes as \xNN.
std::string Printable(const std::string& name) {
    std::string out;
    for (char c : name) {
        if (static_cast<unsigned char>(c) < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof(escaped), "\\x%02X", static_cast<unsigned char>(c));
            out += escaped;
        } else {
            out += c;
        }
    }
    return out;
}

bool Fail(const std::string& why) {
    std::fprintf(stderr, "qgpatch: repair-site: %s\n", why.c_str());
    return false;
}

// One line of the list: a loose file of the client or an entry of one of its packs.
struct Item {
    fs::path file;     // the loose file or the pack
    std::string name;  // GBK: the relative path or the entry's catalogue name
    std::string pack;  // GBK, lower case, "/" separators; empty for a loose file
    int type = 0;      // the entry's codec
};

// Everything the list will name, checked before anything is written: a name the list
// cannot carry, or a file it cannot describe, refuses the whole site.
class Plan {
  public:
    void Loose(const fs::path& file, const std::string& gbkRelative) {
        std::error_code error;
        const uintmax_t size = fs::file_size(file, error);
        if (error) {
            Refuse("cannot read " + file.string());
        } else if (size > UINT32_MAX) {
            // The list writes a size as eight hex digits.
            Refuse(file.string() + ": " + std::to_string(size) +
                   " bytes, more than the list can describe (4 GiB - 1)");
        }
        Add({file, gbkRelative, "", 0});
    }

    void Pack(const fs::path& file, const std::string& gbkRelative) {
        AXP::PackFile pack;
        std::string gbkPath;
        if (!cli::PathToGbk(file.string(), gbkPath) || !pack.Open(gbkPath, true))
            return Refuse("cannot open the pack " + file.string());
        AXP::Catalogue catalogue;
        if (!AXP::ReadCatalogue(pack, catalogue) || !pack.Exists(AXP::kListFileName))
            return Refuse(file.string() + " has no (list) catalogue to name its entries");
        catalogue[AXP::kListFileName];
        // Published under the name the launcher looks the pack up by.
        const std::string packName = NormalisePath(gbkRelative, true, true);
        if (!CanCarry(packName, Role::kPack)) return;
        for (const auto& [name, listed] : catalogue) {
            if (!pack.Exists(name)) {
                Refuse(file.string() + " names \"" + Printable(name) + "\", which it lacks");
                continue;
            }
            Add({file, name, packName, pack.GetCompressType(name)});
        }
    }

    bool ok() const { return ok_; }
    const std::vector<Item>& items() const { return items_; }

  private:
    enum class Role { kLoose, kEntry, kPack };

    void Add(Item item) {
        if (!CanCarry(item.name, item.pack.empty() ? Role::kLoose : Role::kEntry)) return;
        const std::string line = item.name + "|00000000|00000000|" + std::to_string(item.type) +
                                 "|" + item.pack + "\r\n";
        if (line.size() > kRepairListMaxLine)
            return Refuse("\"" + Printable(item.name) + "\": its line would be longer than " +
                          std::to_string(kRepairListMaxLine) + " characters");
        // The launcher refuses a list that names one file twice, in any spelling.
        if (!named_.insert(RepairEntryKey(item.pack, item.name)).second)
            return Refuse("\"" + Printable(item.name) + "\" is named twice (letter case or " +
                          "separators aside)" + (item.pack.empty() ? "" : " in " + item.pack));
        items_.push_back(std::move(item));
    }

    // A name the list and the launcher can take: no "|" (it separates the fields), no
    // line break or other control character, inside the client folder.
    bool CanCarry(const std::string& name, Role role) {
        const bool carried = name.find('|') == std::string::npos &&
                             std::none_of(name.begin(), name.end(), [](char c) {
                                 return static_cast<unsigned char>(c) < 0x20;
                             });
        if (!carried) {
            Refuse("\"" + Printable(name) +
                   "\": the list cannot carry a name with \"|\" or a line break");
            return false;
        }
        // The launcher's own reading of such a line decides.
        RepairList probe;
        const std::string line = role == Role::kPack    ? "x|00000000|00000000|0|" + name
                                 : role == Role::kEntry ? name + "|00000000|00000000|0|x.pak"
                                                        : name + "|00000000|00000000|0|";
        if (ParseRepairList("current|1\r\n" + line + "\r\n", probe) == RepairListResult::Unsafe) {
            Refuse("\"" + Printable(name) + "\": the launcher refuses this name");
            return false;
        }
        return true;
    }

    void Refuse(const std::string& why) { ok_ = Fail(why); }

    std::vector<Item> items_;
    std::set<std::string> named_;
    bool ok_ = true;
};

// Writes the site of a plan: each file streamed to its URL's path while its size, CRC and
// SHA-256 are taken, then the list (and with a key its signed digests).
class Publisher {
  public:
    explicit Publisher(fs::path out) : out_(std::move(out)) {}

    bool Publish(const Item& item) {
        const std::string urlPath = item.pack.empty()
                                        ? NormalisePath(item.name, false, true)
                                        : item.pack + "/" + NormalisePath(item.name, false, true);
        std::string utf8;
        if (!platform::GbkToUtf8(urlPath, utf8)) return Fail("a name that is not GBK");
        Content content(out_ / fs::path(utf8));
        if (item.pack.empty() ? !CopyLoose(item.file, content) : !CopyEntry(item, content))
            return false;
        if (!content.Finish()) return Fail("cannot write " + (out_ / fs::path(utf8)).string());
        if (content.size > UINT32_MAX)
            return Fail(item.file.string() + " grew past what the list can describe");
        list_ += item.name + "|" + Hex8(static_cast<uint32_t>(content.size)) + "|" +
                 Hex8(AXP::CrcFinal(content.crc)) + "|" + std::to_string(item.type) + "|" +
                 item.pack + "\r\n";
        digests_ += RepairDigestLine(content.sha256.Finish(), item.pack, item.name);
        ++lines_;
        if (item.pack.empty()) ++looseCount_;
        return true;
    }

    bool Finish(const std::string& keyFile, const std::string& version, uint64_t serial) {
        const std::string text = "current|" + std::to_string(lines_) + "\r\n" + list_;
        const fs::path listPath = out_ / kRepairListName;
        if (!WriteAt(listPath, text)) return false;
        if (!keyFile.empty()) {
            SecretKey secret;
            PublicKey key;
            const std::string signedText = RepairDigestsHeader(version, serial, text) + digests_;
            const fs::path digestsPath = out_ / kRepairDigestsName;
            if (!LoadSecretKey(keyFile, secret, key) || !WriteAt(digestsPath, signedText) ||
                !WriteSignatureFile(digestsPath.string(), SignedRole::RepairList, signedText,
                                    secret))
                return false;
        }
        std::printf("%s: %zu files, %zu pack entries%s\n", listPath.string().c_str(), looseCount_,
                    lines_ - looseCount_, keyFile.empty() ? "" : ", signed");
        return true;
    }

  private:
    // The bytes of one file on their way to the site. The repair never asks for an empty
    // file (it makes it), so none is written.
    struct Content {
        explicit Content(fs::path at) : path(std::move(at)) {}
        bool Add(const char* data, size_t n) {
            if (n == 0) return true;
            if (!out.is_open()) {
                std::error_code ignored;
                fs::create_directories(path.parent_path(), ignored);
                out.open(path, std::ios::binary | std::ios::trunc);
            }
            crc = AXP::CrcUpdate(crc, data, n);
            sha256.Update(data, n);
            size += n;
            out.write(data, static_cast<std::streamsize>(n));
            return out.good();
        }
        bool Finish() {
            if (!out.is_open()) return true;
            out.close();
            return out.good();
        }
        fs::path path;
        std::ofstream out;
        uint32_t crc = AXP::kCrcInit;
        Sha256Stream sha256;
        uint64_t size = 0;
    };

    static bool CopyLoose(const fs::path& file, Content& content) {
        std::ifstream in(file, std::ios::binary);
        std::string chunk(kChunk, '\0');
        while (in) {
            in.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
            if (!content.Add(chunk.data(), static_cast<size_t>(in.gcount())))
                return Fail("cannot write " + content.path.string());
        }
        return in.eof() || Fail("cannot read " + file.string());
    }

    static bool CopyEntry(const Item& item, Content& content) {
        AXP::PackFile pack;
        std::string gbkPath;
        AXP::IStream* stream = nullptr;
        if (cli::PathToGbk(item.file.string(), gbkPath) && pack.Open(gbkPath, true))
            stream = pack.OpenFile(item.name);
        if (stream == nullptr)
            return Fail("cannot read " + Printable(item.name) + " in " + item.file.string());
        std::string chunk(kChunk, '\0');
        uint64_t copied = 0;
        bool written = true;
        while (written && copied < stream->GetSize()) {
            const uint32_t got = stream->Read(chunk.data(), static_cast<uint32_t>(chunk.size()));
            if (got == 0) break;
            copied += got;
            written = content.Add(chunk.data(), got);
        }
        const bool complete = copied == stream->GetSize();
        stream->Release();
        if (!written) return Fail("cannot write " + content.path.string());
        return complete ||
               Fail("cannot read " + Printable(item.name) + " in " + item.file.string());
    }

    static bool WriteAt(const fs::path& path, const std::string& data) {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(data.data(), static_cast<std::streamsize>(data.size()));
        out.close();
        return out.good() || Fail("cannot write " + path.string());
    }

    fs::path out_;
    std::string list_;
    std::string digests_;
    size_t lines_ = 0;
    size_t looseCount_ = 0;
};

// The client version a signed list describes: the first field of CLIENT/.ver.
bool ReleaseOf(const std::string& client, std::string& version) {
    std::string gbk;
    return cli::PathToGbk((fs::path(client) / kLocalVersionFile).string(), gbk) &&
           ReadVersionFileText(gbk, version) && !version.empty();
}

// The serial of the signed list that DIR holds now; 0 when there is none.
uint64_t PreviousSerial(const fs::path& out) {
    std::ifstream in(out / kRepairDigestsName, std::ios::binary);
    std::string header;
    std::getline(in, header);
    std::string second;
    std::getline(in, second);
    RepairDigests digests;
    return ParseRepairDigests(header + "\n" + second + "\n", digests) ? digests.serial : 0;
}

}  // namespace

const char kRepairSiteHelp[] =
    "  qgpatch repair-site CLIENT -o DIR [--key KEYFILE [--serial N]]\n"
    "      publishes the repair site of a sound client tree in DIR: the file list\n"
    "      \"current.ver\" (every loose file and every pack entry named by the packs'\n"
    "      \"(list)\", with size, CRC and codec) and each of those files, at the path of\n"
    "      the URL the launcher asks for (pack entries decoded, under PACK/ENTRY);\n"
    "      a name the list cannot carry (\"|\", a line break, a name given twice) or a\n"
    "      file over 4 GiB - 1 refuses the site before anything is written;\n"
    "      --key KEYFILE also writes \"current.ver.sha256\" (the release of CLIENT/.ver,\n"
    "      the serial, the SHA-256 of the list and of every file) and its signature;\n"
    "      --serial N (default: the time, and always above the serial it replaces):\n"
    "      publish after the patch information of the same release, or give both the\n"
    "      same serial, since launchers refuse a list older than the release they saw\n";

int RunRepairSite(const CommandLine& line) {
    if (line.operands.size() > 1) return cli::Usage("repair-site takes one CLIENT");
    const std::string client = line.operands.empty() ? "" : line.operands.front();
    const std::string out = line.Value("-o"), keyFile = line.Value("--key"),
                      serialText = line.Value("--serial");
    if (client.empty() || out.empty()) return cli::Usage("repair-site needs CLIENT -o DIR");
    if (keyFile.empty() && !serialText.empty())
        return cli::Usage("repair-site: --serial belongs to a signed site (--key)");
    std::error_code error;
    if (!fs::is_directory(client, error)) return cli::Usage(client + " is no folder");
    std::string version;
    uint64_t serial = 0;
    if (!keyFile.empty()) {
        if (!ReleaseOf(client, version)) {
            Fail(client + " has no .ver: a signed list names the release it describes");
            return 1;
        }
        int exitCode = 0;
        if (!ChooseSerial("repair-site", serialText, PreviousSerial(out), kRepairDigestsName,
                          serial, exitCode))
            return exitCode;
    }
    std::vector<fs::path> files;
    for (auto it = fs::recursive_directory_iterator(client, error);
         it != fs::recursive_directory_iterator(); it.increment(error)) {
        if (error) break;
        if (it->is_regular_file()) files.push_back(it->path());
    }
    if (error) {
        Fail("cannot read " + client);
        return 1;
    }
    std::sort(files.begin(), files.end());
    Plan plan;
    for (const fs::path& file : files) {
        const std::string relative = fs::relative(file, client).generic_string();
        std::string gbk;
        if (!cli::TextToGbk(relative, gbk)) return 1;
        if (IsSkippedLooseFile(gbk) || IsLauncherState(relative)) continue;
        if (IsPack(relative))
            plan.Pack(file, gbk);
        else
            plan.Loose(file, gbk);
    }
    if (!plan.ok()) {
        Fail("nothing written: the launcher could not repair from such a site");
        return 1;
    }
    fs::create_directories(out, error);
    Publisher publisher(out);
    for (const Item& item : plan.items())
        if (!publisher.Publish(item)) return 1;
    return publisher.Finish(keyFile, version, serial) ? 0 : 1;
}

}  // namespace qgpatch
