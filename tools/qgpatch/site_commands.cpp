#include "site_commands.h"

#include <cstdio>
#include <fstream>
#include <iterator>

#include "axp/zip_writer.h"
#include "common/cli.h"
#include "platform/file_system.h"
#include "platform/native_path.h"
#include "update/launcher_check.h"
#include "update/position_key.h"
#include "update/version.h"

namespace qgpatch {

const char kSiteHelp[] =
    "  qgpatch site -o PATCHINFO --latest VERSION --quillgate VERSION\n"
    "               --newquillgate URL [--patch FROM TO URL]...\n"
    "      writes the patch-information file: the newest client and launcher versions,\n"
    "      where the launcher archive lies, and one \"patch_\" section per package, in the\n"
    "      order given\n"
    "  qgpatch scramble FILE [-o OUT]\n"
    "      scrambles (or unscrambles) a small text file with the position key, as\n"
    "      \"quillgate.cfg\" and \"server.lst\" may be stored (in place without -o)\n"
    "  qgpatch launcher-zip LAUNCHER -o ARCHIVE\n"
    "      the launcher archive of the self-update: LAUNCHER stored as \"quillgate.exe\";\n"
    "      it must be an executable of this machine that tells its version, which is\n"
    "      printed: publish the archive under that version (site --quillgate)\n";

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

int Site(const std::vector<std::string>& args) {
    std::string output, latest, launcher, launcherUrl;
    struct Patch {
        std::string from, to, url;
    };
    std::vector<Patch> patches;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&](std::string& into) {
            if (i + 1 >= args.size()) return false;
            into = args[++i];
            return true;
        };
        bool ok = true;
        if (a == "-o") {
            ok = value(output);
        } else if (a == "--latest") {
            ok = value(latest);
        } else if (a == "--quillgate") {
            ok = value(launcher);
        } else if (a == "--newquillgate") {
            ok = value(launcherUrl);
        } else if (a == "--patch") {
            Patch p;
            ok = value(p.from) && value(p.to) && value(p.url);
            patches.push_back(p);
        } else {
            return Usage("site: unknown argument \"" + a + "\"");
        }
        if (!ok) return Usage("site: " + a + " needs its value(s)");
    }
    if (output.empty() || !SafeValue(latest) || !SafeValue(launcher) || !SafeValue(launcherUrl))
        return Usage("site needs -o, --latest, --quillgate and --newquillgate");
    std::string text = "[latest]\r\nlatest=" + latest + "\r\nquillgate=" + launcher +
                       "\r\nnewquillgate=" + launcherUrl + "\r\n";
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
    }
    std::string gbk;
    if (!cli::PathToGbk(output, gbk)) return 2;
    if (!platform::WriteFileReplacing(gbk, text)) {
        std::fprintf(stderr, "qgpatch: cannot write %s\n", output.c_str());
        return 1;
    }
    std::printf("%s: latest %s, launcher %s, %zu patch(es)\n", output.c_str(), latest.c_str(),
                launcher.c_str(), patches.size());
    return 0;
}

int Scramble(const std::vector<std::string>& args) {
    std::string input, output;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "-o" && i + 1 < args.size()) {
            output = args[++i];
        } else if (input.empty()) {
            input = args[i];
        } else {
            return Usage("scramble needs FILE [-o OUT]");
        }
    }
    if (input.empty()) return Usage("scramble needs FILE [-o OUT]");
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

// The version that the launcher at `path` (holding `image`) reports of itself.
bool LauncherVersion(const std::string& path, const std::string& image, std::string& version) {
    if (!IsNativeExecutableImage(image)) return false;
    std::string native = platform::ResolveUtf8Path(path);
    if (native.find('/') == std::string::npos) native = "./" + native;
    return AskLauncherVersion(native, version);
}

int LauncherZip(const std::vector<std::string>& args) {
    if (args.size() != 3 || args[1] != "-o") return Usage("launcher-zip needs LAUNCHER -o ARCHIVE");
    std::string launcher, gbk;
    if (!ReadAll(args[0], launcher)) {
        std::fprintf(stderr, "qgpatch: cannot read %s\n", args[0].c_str());
        return 1;
    }
    // The launchers install only a launcher that starts and tells the published version:
    // say so here rather than publish an archive that every client refuses.
    std::string version;
    if (!LauncherVersion(args[0], launcher, version)) {
        std::fprintf(stderr,
                     "qgpatch: %s is no launcher for this machine (it must be an executable that "
                     "answers --version)\n",
                     args[0].c_str());
        return 1;
    }
    if (!cli::PathToGbk(args[2], gbk)) return 2;
    AXP::ZipWriter zip;
    if (!zip.Create(gbk) || !zip.Add("quillgate.exe", launcher.data(), launcher.size(), true) ||
        !zip.Finish()) {
        return LibraryFailure("launcher-zip");
    }
    std::printf("%s: quillgate.exe, %zu bytes, version %s\n", args[2].c_str(), launcher.size(),
                version.c_str());
    return 0;
}

}  // namespace

bool IsSiteCommand(const std::string& command) {
    return command == "site" || command == "scramble" || command == "launcher-zip";
}

int RunSiteCommand(const std::string& command, const std::vector<std::string>& args) {
    if (command == "site") return Site(args);
    if (command == "scramble") return Scramble(args);
    return LauncherZip(args);
}

}  // namespace qgpatch
