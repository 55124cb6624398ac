#include "app/game_processes.h"

#include "platform/native_path.h"
#include "platform/wine_drives.h"

namespace {

constexpr uint32_t kForceClosePollMs = 50;

std::string Lower(std::string s) {
    for (char& c : s) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    }
    return s;
}

bool HasDriveLetter(const std::string& path) {
    const char c = path.size() >= 2 ? path[0] : '\0';
    return ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) && path[1] == ':';
}

// The Wine prefix a process runs in, as Wine itself finds it.
std::string WinePrefixOf(const platform::ProcessEntry& process) {
    std::string prefix = platform::ProcessEnvironmentValue(process, "WINEPREFIX");
    if (!prefix.empty()) return prefix;
    std::string home = platform::ProcessEnvironmentValue(process, "HOME");
    if (home.empty()) home = platform::ProcessOwnerHome(process);
    return home.empty() ? std::string() : home + "/.wine";
}

// "D:\games\c\game.exe" -> the native path it names for this Wine process; empty when
// its drive is unknown.
std::string WindowsPathAsNative(const platform::ProcessEntry& process, const std::string& path) {
    std::string s = path;
    for (char& c : s) {
        if (c == '\\') c = '/';
    }
    if (!HasDriveLetter(s)) return s;
    std::string root = platform::WineDriveRoot(WinePrefixOf(process), s[0]);
    if (root.empty()) {
        // Wine's own default for the whole file system, when the prefix cannot be read.
        if (s[0] != 'z' && s[0] != 'Z') return std::string();
    } else if (root.back() == '/') {
        root.pop_back();
    }
    return root + s.substr(2);
}

}  // namespace

const ProcessAccess& SystemProcesses() {
    static const ProcessAccess system;
    return system;
}

bool IsSameImage(const platform::ProcessEntry& process, const std::string& gamePath) {
    if (gamePath.empty()) return false;
    const std::string game = Lower(gamePath);
    if (!process.image.empty() && Lower(process.image).find(game) != std::string::npos) return true;
    const std::string& argv0 = process.firstArgument;
    if (argv0.empty()) return false;
    const std::string native = WindowsPathAsNative(process, argv0);
    return !native.empty() && Lower(native).find(game) != std::string::npos;
}

std::vector<uint32_t> FindGameProcesses(const std::string& gamePath, const ProcessAccess& access) {
    std::vector<uint32_t> ids;
    platform::EnumerateProcessesIn(access.procRoot, [&](const platform::ProcessEntry& p) {
        if (IsSameImage(p, gamePath)) ids.push_back(p.id);
    });
    return ids;
}

int TerminateGameProcesses(const std::string& gamePath, const ProcessAccess& access) {
    int ended = 0;
    for (uint32_t id : FindGameProcesses(gamePath, access)) ended += access.terminate(id);
    return ended;
}

bool ForceCloseGame(const std::string& gamePath, const ProcessAccess& access) {
    TerminateGameProcesses(gamePath, access);
    // A signalled process takes a moment to go; it counts as closed only once it has.
    for (uint32_t waited = 0;; waited += kForceClosePollMs) {
        if (FindGameProcesses(gamePath, access).empty()) return true;
        if (waited >= kForceCloseCheckMs) return false;
        access.pause(kForceClosePollMs);
    }
}

void WaitForGameToEnd(const std::string& gamePath, uint32_t pollMs, const ProcessAccess& access) {
    while (!FindGameProcesses(gamePath, access).empty()) access.pause(pollMs);
}

std::string GameImagePath(const std::string& gameExeGbk) {
    std::string native;
    if (!platform::NativePath(gameExeGbk, native) || native.empty()) return std::string();
    return platform::AbsolutePath(native);
}
