// qgpatch: the operators' patch-package tool, built over the AXP library's public API.
// Run "qgpatch --help" for the commands.

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "axp/command_script.h"
#include "axp/error.h"
#include "axp/package_form.h"
#include "axp/updater.h"
#include "block_lists.h"
#include "client_diff.h"
#include "command_line.h"
#include "common/cli.h"
#include "patch_content.h"
#include "platform/native_path.h"
#include "platform/text_encoding.h"
#include "repair_site.h"
#include "signing_commands.h"
#include "site_commands.h"

namespace {

namespace fs = std::filesystem;
using cli::LibraryFailure;
using cli::Usage;

constexpr char kHelpHead[] =
    "usage: qgpatch COMMAND ARGS...\n"
    "\n"
    "Patch packages for the launcher: zip archives with a \"(command)\" script, stored\n"
    "scrambled or sealed. Paths on the command line are UTF-8.\n"
    "\n";
constexpr char kHelpTail[] =
    "\n"
    "Failures print the library's error code and text and exit 1; usage errors exit 2.\n";
constexpr char kVersionHelp[] =
    "  qgpatch --version\n"
    "      the version of this tool\n";

constexpr char kDiffHelp[] =
    "  qgpatch diff OLD NEW -o PACKAGE [--form sealed|scrambled]\n"
    "      the package that turns client folder OLD into NEW: pack entries compared through\n"
    "      the packs' \"(list)\" catalogues, other files by size and CRC (default form:\n"
    "      sealed)\n";
constexpr char kBuildHelp[] =
    "  qgpatch build SCRIPT DIR -o PACKAGE [--form sealed|scrambled]\n"
    "      a package from a script file and a folder holding the content of every entry\n"
    "      it writes, under the entry's name (scrambled: compressed entries as stored in\n"
    "      the pack; sealed: plain content)\n";
constexpr char kApplyHelp[] =
    "  qgpatch apply PACKAGE... [--dir CLIENT]\n"
    "      checks every package (trailer, members) and applies them in order to CLIENT\n"
    "      (default: the current folder), \".ver\" last; nothing of a refused package\n"
    "      is applied\n";
constexpr char kVerifyHelp[] =
    "  qgpatch verify PACKAGE\n"
    "      checks the CRC trailer\n";
constexpr char kShowHelp[] =
    "  qgpatch show PACKAGE\n"
    "      the form, the trailer and the script\n";
constexpr char kConvertHelp[] =
    "  qgpatch convert SRC DST\n"
    "      plain zip -> sealed package, or sealed package -> plain zip\n";

constexpr char kPackExtension[] = ".pak";
constexpr char kVersionFile[] = ".ver";

// What the package commands read from their command line.
struct Options {
    std::vector<std::string> positional;
    std::string output, dir = ".";
    AXP::PackageForm form = AXP::PackageForm::kSealed;
};

// Runs `Command` with the options of `line`; a --form other than the two is a usage error.
template <int (*Command)(const Options&)>
int WithOptions(const qgpatch::CommandLine& line) {
    Options o;
    o.positional = line.operands;
    o.output = line.Value("-o");
    for (const std::vector<std::string>& use : line.Uses("--dir")) o.dir = use.front();
    for (const std::vector<std::string>& use : line.Uses("--form")) {
        if (use.front() == "sealed")
            o.form = AXP::PackageForm::kSealed;
        else if (use.front() == "scrambled")
            o.form = AXP::PackageForm::kScrambled;
        else
            return Usage("--form is sealed or scrambled");
    }
    return Command(o);
}

int Write(const qgpatch::PatchContent& content, const Options& o) {
    std::string gbk;
    if (!cli::PathToGbk(o.output, gbk)) return 2;
    if (!qgpatch::WritePatchPackage(gbk, o.form, content))
        return LibraryFailure("write " + o.output);
    std::printf("%s: %s package, %zu commands, %zu members\n", o.output.c_str(),
                AXP::PackageFormName(o.form), content.commands.size(), content.members.size());
    return 0;
}

int CmdDiff(const Options& o) {
    if (o.positional.size() != 2 || o.output.empty()) return Usage("diff needs OLD NEW -o PACKAGE");
    qgpatch::PatchContent content;
    std::string error;
    if (!qgpatch::DiffClients(o.positional[0], o.positional[1],
                              o.form == AXP::PackageForm::kScrambled, content, error)) {
        std::fprintf(stderr, "qgpatch: diff failed: %s\n", error.c_str());
        if (AXP::GetLastErrorCode() != AXP::kErrNone) return LibraryFailure("diff");
        return 1;
    }
    return Write(content, o);
}

int CmdBuild(const Options& o) {
    if (o.positional.size() != 2 || o.output.empty())
        return Usage("build needs SCRIPT DIR -o PACKAGE");
    std::ifstream in(o.positional[0], std::ios::binary);
    if (!in) return Usage("cannot read " + o.positional[0]);
    const std::string script((std::istreambuf_iterator<char>(in)),
                             std::istreambuf_iterator<char>());
    qgpatch::PatchContent content;
    content.commands = AXP::ParseCommandScript(script);
    std::string dir;
    if (!cli::PathToGbk(o.positional[1], dir)) return 2;
    for (const AXP::ScriptCommand& c : content.commands) {
        if (c.operation != AXP::kOpWrite || content.members.count(c.entryName) != 0) continue;
        std::string native;
        if (!platform::NativePath(dir + "/" + c.entryName, native)) return Usage("bad name");
        std::ifstream file(native, std::ios::binary);
        if (!file) {
            AXP::SetLastError(AXP::kErrNotFound, "%s", native.c_str());
            return LibraryFailure("build");
        }
        content.members[c.entryName].assign(std::istreambuf_iterator<char>(file),
                                            std::istreambuf_iterator<char>());
    }
    return Write(content, o);
}

uint32_t g_done = 0, g_total = 0;
bool g_terminal = false;

void ShowProgress(const char* pack, const char* entry, uint32_t operation) {
    ++g_done;
    const std::string name =
        platform::GbkToUtf8Lossy(std::string(pack) + (pack[0] != '\0' ? ":" : "") + entry);
    std::fprintf(stderr, g_terminal ? "\r\033[K[%u/%u] %s %s" : "[%u/%u] %s %s\n", g_done, g_total,
                 operation == AXP::kOpRemove ? "remove" : "write", name.c_str());
    std::fflush(stderr);
}

int CmdApply(const Options& o) {
    if (o.positional.empty()) return Usage("apply needs at least one PACKAGE");
    AXP::Updater updater;
    for (const std::string& p : o.positional) {
        std::string gbk;
        if (!cli::PathToGbk(p, gbk)) return 2;
        // As the launcher does: a package whose trailer does not match is damaged or
        // incomplete, and none of it is applied.
        if (!updater.VerifyPackageFile(gbk)) return LibraryFailure("verify " + p);
        if (!updater.AddPatchPackage(gbk, kPackExtension)) return LibraryFailure("add " + p);
    }
    std::string dir;
    if (!cli::PathToGbk(o.dir, dir)) return 2;
    g_total = updater.GetPendingCount();
    g_terminal = isatty(fileno(stderr)) != 0;
    const bool ok = updater.ApplyPatches(dir, kPackExtension, kVersionFile, ShowProgress);
    if (g_terminal) std::fputc('\n', stderr);
    if (!ok) return LibraryFailure("apply");
    std::printf("applied %u entries from %zu package(s) to %s\n", g_total, o.positional.size(),
                o.dir.c_str());
    return 0;
}

int CmdVerify(const Options& o) {
    if (o.positional.size() != 1) return Usage("verify needs PACKAGE");
    std::string gbk;
    if (!cli::PathToGbk(o.positional[0], gbk)) return 2;
    if (!AXP::Updater().VerifyPackageFile(gbk)) return LibraryFailure("verify");
    std::printf("%s: trailer ok\n", o.positional[0].c_str());
    return 0;
}

int CmdShow(const Options& o) {
    if (o.positional.size() != 1) return Usage("show needs PACKAGE");
    std::string gbk;
    if (!cli::PathToGbk(o.positional[0], gbk)) return 2;
    const AXP::PackageForm form = AXP::DetectPackageFormOfFile(gbk);
    std::printf("form: %s (%u)\n", AXP::PackageFormName(form), static_cast<unsigned>(form));
    uint32_t stored = 0, computed = 0;
    if (AXP::ReadPackageTrailer(gbk, stored, computed)) {
        std::printf("trailer: %08X, computed %08X: %s\n", stored, computed,
                    stored == computed ? "ok" : "mismatch");
    } else {
        std::printf("trailer: none\n");
    }
    AXP::Updater updater;
    std::string script;
    if (!updater.ReadPackageMember(gbk, AXP::kCommandEntryName, script)) {
        return LibraryFailure("read (command)");
    }
    std::printf("(command):\n");
    for (const AXP::ScriptCommand& c : AXP::ParseCommandScript(script)) {
        std::printf("%s\n", platform::GbkToUtf8Lossy(AXP::FormatScriptLine(c)).c_str());
    }
    return 0;
}

int CmdConvert(const Options& o) {
    if (o.positional.size() != 2) return Usage("convert needs SRC DST");
    std::string from, to;
    if (!cli::PathToGbk(o.positional[0], from) || !cli::PathToGbk(o.positional[1], to)) return 2;
    if (!AXP::Updater().ConvertPackageForm(from, to)) return LibraryFailure("convert");
    std::printf("%s: %s\n", o.positional[1].c_str(),
                AXP::PackageFormName(AXP::DetectPackageFormOfFile(to)));
    return 0;
}

// Every command: its options (each with the number of values it takes), its help and what
// runs it. The parser and the help both read this table.
const std::vector<qgpatch::Command>& Commands() {
    using namespace qgpatch;
    static const std::vector<qgpatch::Command> commands = {
        {nullptr, "diff", {{"-o", 1}, {"--form", 1}}, kDiffHelp, WithOptions<CmdDiff>},
        {nullptr, "build", {{"-o", 1}, {"--form", 1}}, kBuildHelp, WithOptions<CmdBuild>},
        {nullptr, "apply", {{"--dir", 1}}, kApplyHelp, WithOptions<CmdApply>},
        {nullptr, "verify", {}, kVerifyHelp, WithOptions<CmdVerify>},
        {nullptr, "show", {}, kShowHelp, WithOptions<CmdShow>},
        {nullptr, "convert", {}, kConvertHelp, WithOptions<CmdConvert>},
        {"\nPublishing a site:\n",
         "site",
         {{"-o", 1},
          {"--latest", 1},
          {"--quillgate", 1},
          {"--newquillgate", 1},
          {"--patch", 3},
          {"--key", 1},
          {"--files", 1},
          {"--serial", 1}},
         kSiteHelp,
         RunSite},
        {nullptr, "scramble", {{"-o", 1}}, kScrambleHelp, RunScramble},
        {nullptr, "launcher-zip", {{"-o", 1}}, kLauncherZipHelp, RunLauncherZip},
        {nullptr,
         "repair-site",
         {{"-o", 1}, {"--key", 1}, {"--serial", 1}},
         kRepairSiteHelp,
         RunRepairSite},
        {nullptr, "keygen", {{"-o", 1}}, kKeygenHelp, RunKeygen},
        {nullptr, "sign", {{"--key", 1}, {"--role", 1}, {"--serial", 1}}, kSignHelp, RunSign},
        {nullptr, "blocks", {{"-o", 1}}, kBlocksHelp, RunBlocks},
    };
    return commands;
}

// The help, made from the command table.
int PrintHelp(bool asked) {
    std::FILE* out = asked ? stdout : stderr;
    std::fputs(kHelpHead, out);
    for (const qgpatch::Command& c : Commands()) {
        if (c.heading != nullptr) std::fputs(c.heading, out);
        std::fputs(c.help, out);
        if (std::string_view(c.name) == "convert") std::fputs(kVersionHelp, out);
    }
    std::fputs(kHelpTail, out);
    return asked ? 0 : 2;
}

}  // namespace

namespace cli {
const char kProgramName[] = "qgpatch";
}

int main(int argc, char** argv) {
    if (cli::WantsHelp(argc, argv)) return PrintHelp(argc >= 2);
    if (cli::WantsVersion(argc, argv)) return cli::PrintVersion();
    const std::string name = argv[1];
    const std::vector<std::string> args(argv + 2, argv + argc);
    for (const qgpatch::Command& command : Commands()) {
        if (name != command.name) continue;
        qgpatch::CommandLine line;
        if (!qgpatch::ParseCommandLine(command, args, line)) return 2;
        return command.run(line);
    }
    if (cli::LooksLikeOption(name)) return Usage("unknown option " + name);
    return Usage("unknown command \"" + name + "\"");
}
