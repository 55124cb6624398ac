#include "app/game_launch.h"

#include <cstring>
#include <sstream>
#include <vector>

#include "app/game_processes.h"
#include "axp/pack_file.h"
#include "platform/file_system.h"
#include "platform/process.h"
#include "platform/profile.h"
#include "platform/text_encoding.h"
#include "platform/text_file.h"
#include "update/client_work_gate.h"
#include "update/launcher_config.h"
#include "update/message_table.h"

namespace {

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

GameLaunch NotStarted(const std::string& reason) {
    return {false, FormatMessage<MessageId::kGameStartFailed>(reason)};
}

}  // namespace

std::string GameCommandLine(const std::string& exePath, bool quickStyle) {
    std::string line = exePath + (quickStyle ? " -run -qstyle" : " -run");
    // A cut line would start another program, or the game without its arguments.
    if (line.size() > kGameCommandLineMax) return std::string();
    return line;
}

bool IsWindowsProgram(const std::string& nativePath) {
    std::string gbkPath, head;
    return platform::Utf8ToGbk(nativePath, gbkPath) &&
           platform::ReadFirstLine(gbkPath, 2, head).ok() && head == "MZ";
}

GameLaunch RunGame(const LauncherConfig& config) {
    // The flags are cleared by opening every pack for writing: never beside the update's
    // or a repair's writer.
    const ClientWorkGate::Pass pass =
        ClientWorkGate::OfProcess().Enter(ClientWorkGate::Work::GameStart);
    if (!pass) return NotStarted(GetMessageText(MessageId::kClientBusy));

    const std::string exePath = GameImagePath(config.gameExe);
    const std::string shownPath =
        exePath.empty() ? platform::GbkToUtf8Lossy(config.gameExe) : exePath;
    const std::string line = GameCommandLine(exePath, config.quickStyle);
    if (line.empty()) {
        return NotStarted(FormatMessage<MessageId::kGameCommandLineTooLong>(
            static_cast<int>(kGameCommandLineMax)));
    }
    const platform::ProgramFileState state =
        exePath.empty() ? platform::ProgramFileState::Missing : platform::CheckProgramFile(exePath);
    if (state == platform::ProgramFileState::Missing)
        return NotStarted(FormatMessage<MessageId::kGameMissing>(shownPath));

    std::vector<std::string> args;
    std::istringstream words(line.substr(exePath.size()));
    for (std::string w; words >> w;) args.push_back(w);
    std::string program = exePath;
    if (IsWindowsProgram(exePath)) {
        program = platform::FindProgramInPath("wine");
        if (program.empty()) return NotStarted(FormatMessage<MessageId::kWineMissing>(shownPath));
        args.insert(args.begin(), exePath);
    } else if (state != platform::ProgramFileState::Runnable) {
        return NotStarted(FormatMessage<MessageId::kGameNotExecutable>(shownPath));
    }

    ClearPackWriterFlags();
    const std::string workDir = exePath.substr(0, exePath.rfind('/') + 1);
    const platform::SysStatus status = platform::StartProcess(program, args, workDir);
    if (!status) {
        return NotStarted(FormatMessage<MessageId::kGameStartRefused>(
            shownPath, std::string(std::strerror(status.error))));
    }
    platform::WriteProfileString("Style", "qstyle", config.quickStyle ? "1" : "0",
                                 config.stylePath);
    return {true, std::string()};
}
