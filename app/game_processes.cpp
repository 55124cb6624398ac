#include "app/game_processes.h"

#include "platform/native_path.h"

namespace {

std::string Lower(std::string s) {
    for (char& c : s) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    }
    return s;
}

// "Z:\games\c\game.exe" -> "/games/c/game.exe": how Wine shows its programs.
std::string WindowsPathAsNative(const std::string& commandLine) {
    std::string s = commandLine;
    for (char& c : s) {
        if (c == '\\') c = '/';
    }
    if (s.size() >= 2 && (s[0] == 'z' || s[0] == 'Z') && s[1] == ':') s.erase(0, 2);
    return s;
}

}  // namespace

bool IsSameImage(const platform::ProcessEntry& process, const std::string& gamePath) {
    if (gamePath.empty()) return false;
    const std::string game = Lower(gamePath);
    if (!process.image.empty() && Lower(process.image).find(game) != std::string::npos) return true;
    const std::string& argv0 = process.firstArgument;
    return !argv0.empty() && Lower(WindowsPathAsNative(argv0)).find(game) != std::string::npos;
}

std::vector<uint32_t> FindGameProcesses(const std::string& gamePath) {
    std::vector<uint32_t> ids;
    platform::EnumerateProcesses([&](const platform::ProcessEntry& p) {
        if (IsSameImage(p, gamePath)) ids.push_back(p.id);
    });
    return ids;
}

int TerminateGameProcesses(const std::string& gamePath) {
    int ended = 0;
    for (uint32_t id : FindGameProcesses(gamePath)) ended += platform::TerminateProcessById(id);
    return ended;
}

std::string GameImagePath(const std::string& gameExeGbk) {
    std::string native;
    if (!platform::NativePath(gameExeGbk, native) || native.empty()) return std::string();
    return platform::AbsolutePath(native);
}
