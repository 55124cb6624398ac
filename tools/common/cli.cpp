#include "cli.h"

#include <cstdio>
#include <cstring>

#include "axp/error.h"
#include "platform/native_path.h"
#include "platform/program_options.h"
#include "platform/text_encoding.h"

namespace cli {
namespace {

bool ConvertOrComplain(const std::string& shown, const std::string& utf8, std::string& gbk) {
    if (platform::Utf8ToGbk(utf8, gbk)) return true;
    std::fprintf(stderr, "%s: \"%s\" is not valid UTF-8 or has a character GBK lacks\n",
                 kProgramName, shown.c_str());
    return false;
}

}  // namespace

int LibraryFailure(const std::string& what) {
    std::fprintf(stderr, "%s: %s failed: error %u: %s\n", kProgramName, what.c_str(),
                 AXP::GetLastErrorCode(), AXP::GetLastErrorText().c_str());
    return 1;
}

int Usage(const std::string& message) {
    std::fprintf(stderr, "%s: %s\n(%s --help lists the commands)\n", kProgramName, message.c_str(),
                 kProgramName);
    return 2;
}

bool TextToGbk(const std::string& utf8, std::string& gbk) {
    return ConvertOrComplain(utf8, utf8, gbk);
}

bool PathToGbk(const std::string& utf8, std::string& gbk) {
    return ConvertOrComplain(utf8, platform::ResolveUtf8Path(utf8), gbk);
}

bool WantsHelp(int argc, char** argv) {
    return argc < 2 || !std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h") ||
           !std::strcmp(argv[1], "help");
}

bool WantsVersion(int argc, char** argv) { return argc == 2 && !std::strcmp(argv[1], "--version"); }

int PrintVersion() { return platform::PrintVersion(kProgramName, QG_VERSION); }

bool LooksLikeOption(const std::string& arg) { return platform::LooksLikeOption(arg); }

bool OnlyKnownOptions(std::initializer_list<CommandOptions> table, const std::string& command,
                      const std::vector<std::string>& args) {
    for (const CommandOptions& c : table) {
        if (command != c.command) continue;
        for (size_t i = 0; i < args.size(); ++i) {
            if (!platform::LooksLikeOption(args[i])) continue;
            bool known = false;
            for (const char* option : c.options) known |= args[i] == option;
            if (!known) {
                Usage(command + ": unknown option " + args[i]);
                return false;
            }
            ++i;  // its value, whatever it looks like
        }
    }
    return true;
}

int PrintHelp(bool asked, std::initializer_list<const char*> texts) {
    std::FILE* out = asked ? stdout : stderr;
    for (const char* text : texts) std::fputs(text, out);
    return asked ? 0 : 2;
}

}  // namespace cli
