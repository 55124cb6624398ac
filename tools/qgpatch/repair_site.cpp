#include "repair_site.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string_view>

#include "axp/crc.h"
#include "axp/pack_file.h"
#include "axp/stream.h"
#include "common/catalogue.h"
#include "common/cli.h"
#include "platform/text_encoding.h"
#include "signing_commands.h"
#include "update/repair_list.h"
#include "update/signature.h"
#include "update/url.h"

namespace qgpatch {

namespace {

namespace fs = std::filesystem;

// What the launcher keeps for itself in a client folder: never part of a release.
bool IsLauncherState(const std::string& relative) {
    static const char* const kNames[] = {"quillgate.lock", "release.serial", "server.lst"};
    for (const char* name : kNames)
        if (relative == name) return true;
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

class Publisher {
  public:
    explicit Publisher(fs::path out) : out_(std::move(out)) {}

    bool Loose(const fs::path& file, const std::string& gbkRelative) {
        std::ifstream in(file, std::ios::binary);
        const std::string data((std::istreambuf_iterator<char>(in)),
                               std::istreambuf_iterator<char>());
        if (!in.good() && !in.eof()) return Fail("cannot read " + file.string());
        return Add(gbkRelative, data, 0, "");
    }

    bool Pack(const fs::path& file, const std::string& gbkRelative) {
        AXP::PackFile pack;
        std::string gbkPath;
        if (!cli::PathToGbk(file.string(), gbkPath) || !pack.Open(gbkPath, true))
            return Fail("cannot open the pack " + file.string());
        axp_tool::Catalogue catalogue;
        if (!axp_tool::ReadCatalogue(pack, catalogue) || !pack.Exists(AXP::kListFileName))
            return Fail(file.string() + " has no (list) catalogue to name its entries");
        catalogue[AXP::kListFileName];
        // Published under the name the launcher looks the pack up by.
        const std::string packName = NormalisePath(gbkRelative, true, true);
        for (const auto& [name, listed] : catalogue) {
            AXP::IStream* stream = pack.OpenFile(name);
            if (stream == nullptr) return Fail("cannot read " + name + " in " + file.string());
            std::string data(stream->GetSize(), '\0');
            const uint32_t got = stream->Read(data.data(), static_cast<uint32_t>(data.size()));
            stream->Release();
            if (got != data.size()) return Fail("cannot read " + name + " in " + file.string());
            if (!Add(name, data, pack.GetCompressType(name), packName)) return false;
        }
        return true;
    }

    bool Finish(const std::string& keyFile) {
        const std::string text = "current|" + std::to_string(lines_) + "\r\n" + list_;
        const fs::path listPath = out_ / kRepairListName;
        if (!WriteAt(listPath, text)) return false;
        if (!keyFile.empty()) {
            SecretKey secret;
            PublicKey key;
            if (!LoadSecretKey(keyFile, secret, key) ||
                !WriteSignatureFile(listPath.string(), text, secret))
                return false;
        }
        std::printf("%s: %zu files, %zu pack entries\n", listPath.string().c_str(), looseCount_,
                    lines_ - looseCount_);
        return true;
    }

  private:
    bool Add(const std::string& path, const std::string& data, int type, const std::string& pack) {
        list_ += path + "|" + Hex8(static_cast<uint32_t>(data.size())) + "|" +
                 Hex8(AXP::Crc(data.data(), data.size())) + "|" + std::to_string(type) + "|" +
                 pack + "\r\n";
        ++lines_;
        if (pack.empty()) ++looseCount_;
        // The repair never asks for an empty file: it makes it.
        if (data.empty()) return true;
        // The server answers the URL's path: the relative name with "/" separators.
        const std::string urlPath = pack.empty() ? NormalisePath(path, false, true)
                                                 : pack + "/" + NormalisePath(path, false, true);
        std::string utf8;
        if (!platform::GbkToUtf8(urlPath, utf8)) return Fail("a name that is not GBK");
        return WriteAt(out_ / fs::path(utf8), data);
    }

    bool WriteAt(const fs::path& path, const std::string& data) {
        std::error_code ignored;
        fs::create_directories(path.parent_path(), ignored);
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(data.data(), static_cast<std::streamsize>(data.size()));
        out.close();
        return out.good() || Fail("cannot write " + path.string());
    }

    static bool Fail(const std::string& why) {
        std::fprintf(stderr, "qgpatch: repair-site: %s\n", why.c_str());
        return false;
    }

    fs::path out_;
    std::string list_;
    size_t lines_ = 0;
    size_t looseCount_ = 0;
};

}  // namespace

const char kRepairSiteHelp[] =
    "  qgpatch repair-site CLIENT -o DIR [--key KEYFILE]\n"
    "      publishes the repair site of a sound client tree in DIR: the file list\n"
    "      \"current.ver\" (every loose file and every pack entry named by the packs'\n"
    "      \"(list)\", with size, CRC and codec) and each of those files, at the path of\n"
    "      the URL the launcher asks for (pack entries decoded, under PACK/ENTRY);\n"
    "      --key KEYFILE also writes current.ver.sig\n";

bool IsRepairSiteCommand(const std::string& command) { return command == "repair-site"; }

int RunRepairSiteCommand(const std::vector<std::string>& args) {
    std::string client, out, keyFile;
    for (size_t i = 0; i < args.size(); ++i) {
        const bool takesValue = args[i] == "-o" || args[i] == "--key";
        if (takesValue && i + 1 >= args.size()) return cli::Usage(args[i] + " needs a value");
        if (args[i] == "-o")
            out = args[++i];
        else if (args[i] == "--key")
            keyFile = args[++i];
        else if (client.empty())
            client = args[i];
        else
            return cli::Usage("repair-site takes one CLIENT");
    }
    if (client.empty() || out.empty()) return cli::Usage("repair-site needs CLIENT -o DIR");
    std::error_code error;
    if (!fs::is_directory(client, error)) return cli::Usage(client + " is no folder");
    fs::create_directories(out, error);
    Publisher publisher(out);
    std::vector<fs::path> files;
    for (auto it = fs::recursive_directory_iterator(client, error);
         it != fs::recursive_directory_iterator(); it.increment(error)) {
        if (error) break;
        if (it->is_regular_file()) files.push_back(it->path());
    }
    if (error) {
        std::fprintf(stderr, "qgpatch: repair-site: cannot read %s\n", client.c_str());
        return 1;
    }
    std::sort(files.begin(), files.end());
    for (const fs::path& file : files) {
        const std::string relative = fs::relative(file, client).generic_string();
        std::string gbk;
        if (!cli::TextToGbk(relative, gbk)) return 1;
        if (IsSkippedLooseFile(gbk) || IsLauncherState(relative)) continue;
        const bool ok = IsPack(relative) ? publisher.Pack(file, gbk) : publisher.Loose(file, gbk);
        if (!ok) return 1;
    }
    return publisher.Finish(keyFile) ? 0 : 1;
}

}  // namespace qgpatch
