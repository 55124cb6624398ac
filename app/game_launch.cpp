#include "app/game_launch.h"

#include <sstream>
#include <vector>

#include "app/game_processes.h"
#include "axp/pack_file.h"
#include "platform/file_system.h"
#include "platform/process.h"
#include "platform/profile.h"
#include "update/launcher_config.h"

namespace {

constexpr size_t kGameCommandLineMax = 519;

bool EndsWithIgnoringCase(const std::string& s, const std::string& suffix) {
    if (s.size() < suffix.size()) return false;
    for (size_t i = 0; i < suffix.size(); ++i) {
        char c = s[s.size() - suffix.size() + i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
        if (c != suffix[i]) return false;
    }
    return true;
}

// Opening a pack for writing and closing it again clears its editing flag.
void ClearPackWriterFlags() {
    std::vector<platform::DirectoryEntry> entries;
    if (!platform::ListDirectory(".\\resource", entries)) return;
    for (const platform::DirectoryEntry& e : entries) {
        if (e.isDirectory || e.gbkName.empty() || e.gbkName[0] == '.' ||
            !EndsWithIgnoringCase(e.gbkName, ".pak"))
            continue;
        AXP::PackFile pack;
        pack.Open(".\\resource\\" + e.gbkName, false);  // a pack that cannot be opened is skipped
    }
}

}  // namespace

std::string GameCommandLine(const std::string& exePath, bool quickStyle) {
    std::string line = exePath + (quickStyle ? " -run -qstyle" : " -run");
    if (line.size() > kGameCommandLineMax) line.resize(kGameCommandLineMax);
    return line;
}

bool RunGame(const LauncherConfig& config) {
    ClearPackWriterFlags();
    const std::string exePath = GameImagePath(config.gameExe);
    if (exePath.empty()) return false;
    const std::string workDir = exePath.substr(0, exePath.rfind('/') + 1);

    std::vector<std::string> args;
    std::istringstream words(GameCommandLine(exePath, config.quickStyle).substr(exePath.size()));
    for (std::string w; words >> w;) args.push_back(w);

    std::string program = exePath;
    const std::string wine = platform::FindProgramInPath("wine");
    if (EndsWithIgnoringCase(exePath, ".exe") && !wine.empty()) {
        args.insert(args.begin(), exePath);
        program = wine;
    }
    if (!platform::StartProcess(program, args, workDir)) return false;
    platform::WriteProfileString("Style", "qstyle", config.quickStyle ? "1" : "0",
                                 config.stylePath);
    return true;
}
