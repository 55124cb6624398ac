#include "site_commands.h"

#include <cstdio>
#include <fstream>
#include <iterator>

#include "axp/zip_writer.h"
#include "block_lists.h"
#include "common/cli.h"
#include "platform/file_system.h"
#include "platform/native_path.h"
#include "signing_commands.h"
#include "update/launcher_check.h"
#include "update/patch_info.h"
#include "update/position_key.h"
#include "update/sha256.h"
#include "update/signature.h"
#include "update/version.h"

namespace qgpatch {

const char kSiteHelp[] =
    "  qgpatch site -o PATCHINFO --latest VERSION --quillgate VERSION\n"
    "               --newquillgate URL [--patch FROM TO URL]...\n"
    "      writes the patch-information file: the newest client and launcher versions,\n"
    "      where the launcher archive lies, and one \"patch_\" section per package, in the\n"
    "      order given; each package found by its URL's path (or the tail of it) under\n"
    "      --files DIR (default: the folder of PATCHINFO) gets its block list beside it,\n"
    "      PACKAGE.blocks, for the download engine\n"
    "      --key KEYFILE signs the site: each patch gets the keys \"size\", \"sha256\" and\n"
    "      \"blockssha256\" (of its block list) of its package, which must be there,\n"
    "      \"latest\" those of the launcher archive (\"quillgatesize\", \"quillgatesha256\")\n"
    "      and \"serial\", and PATCHINFO.sig is written beside it; --serial N (default: the\n"
    "      time, and always above the serial of the PATCHINFO it replaces)\n";

const char kScrambleHelp[] =
    "  qgpatch scramble FILE [-o OUT]\n"
    "      scrambles (or unscrambles) a small text file with the position key, as\n"
    "      \"quillgate.cfg\" and \"server.lst\" may be stored (in place without -o)\n";

const char kLauncherZipHelp[] =
    "  qgpatch launcher-zip LAUNCHER -o ARCHIVE\n"
    "      the launcher archive of the self-update: LAUNCHER stored as \"quillgate.exe\";\n"
    "      it must be an executable of this machine that tells its version, which is\n"
    "      printed: publish the archive under that version, as the site's launcher\n"
    "      version\n";

namespace {

using cli::LibraryFailure;
using cli::Usage;

bool ReadAll(const std::string& path, std::string& data) {
    std::ifstream in(platform::ResolveUtf8Path(path), std::ios::binary);
    if (!in) return false;
    data.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

// A value must be one line without "=" or "[": the file is read as a profile.
bool SafeValue(const std::string& v) {
    return !v.empty() && v.find_first_of("\r\n") == std::string::npos;
}

// The local copy of the file a site publishes at `url`: the URL's path under `folder`, or
// the shortest tail of it that exists there (the site's root need not be the folder's), down
// to the bare file name, which is the answer when nothing exists.
std::string PublishedCopy(const std::string& folder, const std::string& url) {
    std::string path = url.substr(0, url.find_first_of("?#"));
    const size_t scheme = path.find("://");
    if (scheme != std::string::npos) {
        const size_t slash = path.find('/', scheme + 3);
        path = slash == std::string::npos ? "" : path.substr(slash + 1);
    }
    const std::string prefix = folder.empty() ? "" : folder + "/";
    for (size_t at = 0; at < path.size();) {
        const std::string candidate = prefix + path.substr(at);
        std::string gbk;
        if (cli::TextToGbk(candidate, gbk) && platform::PathExists(gbk)) return candidate;
        const size_t slash = path.find('/', at);
        if (slash == std::string::npos) break;
        at = slash + 1;
    }
    return prefix + path.substr(path.rfind('/') + 1);
}

// The keys that describe a published file; false (with a message) when it cannot be read.
bool DescribeFile(const std::string& path, const char* sizeKey, const char* digestKey,
                  std::string& keys) {
    std::string gbk;
    Sha256Digest digest;
    uint64_t size = 0;
    if (!cli::PathToGbk(path, gbk) || !Sha256OfFile(gbk, digest, size)) {
        std::fprintf(stderr, "qgpatch: site: cannot read %s\n", path.c_str());
        return false;
    }
    keys += std::string(sizeKey) + "=" + std::to_string(size) + "\r\n" + digestKey + "=" +
            DigestHex(digest) + "\r\n";
    return true;
}

// The serial of the patch information that `path` holds now; 0 when there is none.
uint64_t PreviousSerial(const std::string& path) {
    std::string data;
    PatchInfo info;
    if (!ReadAll(path, data) || !ParsePatchInfo(data, info)) return 0;
    return info.serial.value_or(0);
}

}  // namespace

int RunSite(const CommandLine& line) {
    if (!line.operands.empty())
        return Usage("site: unknown argument \"" + line.operands.front() + "\"");
    const std::string output = line.Value("-o"), latest = line.Value("--latest"),
                      launcher = line.Value("--quillgate"),
                      launcherUrl = line.Value("--newquillgate"), keyFile = line.Value("--key"),
                      serialText = line.Value("--serial");
    std::string filesDir = line.Value("--files");
    struct Patch {
        std::string from, to, url;
    };
    std::vector<Patch> patches;
    for (const std::vector<std::string>& values : line.Uses("--patch"))
        patches.push_back(Patch{values[0], values[1], values[2]});
    if (output.empty() || !SafeValue(latest) || !SafeValue(launcher) || !SafeValue(launcherUrl))
        return Usage("site needs -o, --latest, --quillgate and --newquillgate");
    SecretKey secret;
    PublicKey key;
    const bool signing = !keyFile.empty();
    if (signing && !LoadSecretKey(keyFile, secret, key)) return 1;
    if (!signing && !serialText.empty())
        return Usage("site: --serial belongs to a signed site (--key)");
    if (filesDir.empty()) {
        const size_t slash = output.rfind('/');
        filesDir = slash == std::string::npos ? "" : output.substr(0, slash);
    }
    std::string text = "[latest]\r\nlatest=" + latest + "\r\nquillgate=" + launcher +
                       "\r\nnewquillgate=" + launcherUrl + "\r\n";
    if (signing) {
        // Launchers refuse a release older than one they have seen: the serial only grows.
        uint64_t serial = 0;
        int exitCode = 0;
        if (!ChooseSerial("site", serialText, PreviousSerial(output), output, serial, exitCode))
            return exitCode;
        text += "serial=" + std::to_string(serial) + "\r\n";
        const std::string archive = PublishedCopy(filesDir, launcherUrl);
        std::string gbk;
        if (cli::PathToGbk(archive, gbk) && platform::PathExists(gbk)) {
            if (!DescribeFile(archive, "quillgatesize", "quillgatesha256", text)) return 1;
        } else {
            std::fprintf(stderr,
                         "qgpatch: site: no launcher archive at %s: launchers that hold the key "
                         "will not replace themselves from this site\n",
                         archive.c_str());
        }
    }
    for (size_t k = 0; k < patches.size(); ++k) {
        const Patch& p = patches[k];
        if (!SafeValue(p.from) || !SafeValue(p.to) || !SafeValue(p.url))
            return Usage("site: --patch values must be single lines");
        if (CompareVersion(ParseVersion(p.to), ParseVersion(p.from)) != CompareResult::Newer) {
            std::fprintf(stderr, "qgpatch: site: patch %s -> %s does not lead forward\n",
                         p.from.c_str(), p.to.c_str());
            return 1;
        }
        text += "[patch_" + std::to_string(k + 1) + "]\r\nfrom=" + p.from + "\r\nto=" + p.to +
                "\r\nurl=" + p.url + "\r\n";
        // The block list beside each package lets the download engine check every block,
        // whoever sends it; a signed site vouches for the list by its digest.
        const std::string package = PublishedCopy(filesDir, p.url);
        std::string gbk;
        if (!signing && !(cli::PathToGbk(package, gbk) && platform::PathExists(gbk))) {
            std::fprintf(stderr, "qgpatch: site: no package at %s: no block list for it\n",
                         package.c_str());
            continue;
        }
        BlockListFacts facts;
        if (!WriteBlockList(package, package + ".blocks", facts)) return 1;
        if (signing)
            text += "size=" + std::to_string(facts.length) + "\r\nsha256=" + facts.fileSha256 +
                    "\r\nblockssha256=" + facts.listSha256 + "\r\n";
    }
    std::string gbk;
    if (!cli::PathToGbk(output, gbk)) return 2;
    if (!platform::WriteFileReplacing(gbk, text)) {
        std::fprintf(stderr, "qgpatch: cannot write %s\n", output.c_str());
        return 1;
    }
    if (signing && !WriteSignatureFile(output, SignedRole::PatchInfo, text, secret)) return 1;
    std::printf("%s: latest %s, launcher %s, %zu patch(es)%s\n", output.c_str(), latest.c_str(),
                launcher.c_str(), patches.size(), signing ? ", signed" : "");
    return 0;
}

int RunScramble(const CommandLine& line) {
    if (line.operands.size() != 1) return Usage("scramble needs FILE [-o OUT]");
    const std::string input = line.operands.front();
    std::string output = line.Value("-o");
    if (output.empty()) output = input;
    std::string data, gbk;
    if (!ReadAll(input, data)) {
        std::fprintf(stderr, "qgpatch: cannot read %s\n", input.c_str());
        return 1;
    }
    ScrambleBuffer(data.data(), data.size());
    if (!cli::PathToGbk(output, gbk)) return 2;
    if (!platform::WriteFileReplacing(gbk, data)) {
        std::fprintf(stderr, "qgpatch: cannot write %s\n", output.c_str());
        return 1;
    }
    std::printf("%s: %zu bytes scrambled with the position key\n", output.c_str(), data.size());
    return 0;
}

namespace {

// The version that the launcher at `path` (holding `image`) reports of itself.
bool LauncherVersion(const std::string& path, const std::string& image, std::string& version) {
    if (!IsNativeExecutableImage(image)) return false;
    std::string native = platform::ResolveUtf8Path(path);
    if (native.find('/') == std::string::npos) native = "./" + native;
    return AskLauncherVersion(native, version);
}

}  // namespace

int RunLauncherZip(const CommandLine& line) {
    if (line.operands.size() != 1 || line.Value("-o").empty())
        return Usage("launcher-zip needs LAUNCHER -o ARCHIVE");
    const std::string source = line.operands.front(), archive = line.Value("-o");
    std::string launcher, gbk;
    if (!ReadAll(source, launcher)) {
        std::fprintf(stderr, "qgpatch: cannot read %s\n", source.c_str());
        return 1;
    }
    // The launchers install only a launcher that starts and tells the published version:
    // say so here rather than publish an archive that every client refuses.
    std::string version;
    if (!LauncherVersion(source, launcher, version)) {
        std::fprintf(stderr,
                     "qgpatch: %s is no launcher for this machine (it must be an executable that "
                     "answers --version)\n",
                     source.c_str());
        return 1;
    }
    if (!cli::PathToGbk(archive, gbk)) return 2;
    AXP::ZipWriter zip;
    if (!zip.Create(gbk) || !zip.Add("quillgate.exe", launcher.data(), launcher.size(), true) ||
        !zip.Finish()) {
        return LibraryFailure("launcher-zip");
    }
    std::printf("%s: quillgate.exe, %zu bytes, version %s\n", archive.c_str(), launcher.size(),
                version.c_str());
    return 0;
}

}  // namespace qgpatch
