// Start-up of the launcher: the command line, the role the process takes, and the
// hand-over by which the installed "quillgate.exe" runs from a copy, "quillgate.bin",
// so that it can replace its own executable.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

inline constexpr const char* kInstalledLauncher = "quillgate.exe";
inline constexpr const char* kRunningLauncher = "quillgate.bin";
// Held by the launcher that updates the client in this folder, for the whole run.
inline constexpr const char* kClientLockFile = "quillgate.lock";
// Passed to the launcher restarted after a self-update: one replacement per run.
inline constexpr const char* kAfterSelfUpdateOption = "--after-self-update";
// Shown when another launcher already updates this client.
inline constexpr const char* kAnotherLauncherRunning =
    "另一个Quillgate正在更新此客户端，请等待它结束。 (Another launcher is updating this client.)";
// Start-up of the network library failed.
inline constexpr const char* kNetworkInitFailed = "Windows Socket init failed!";
// Shown when the platform edition is started without a valid platform login.
inline constexpr const char* kPlatformLoginRequired = "请从塔沃游戏平台登录游戏！";

constexpr size_t kPlatformArgsMax = 1023;
constexpr size_t kCommandTokenMax = 255;
constexpr size_t kSessionMax = 511;
constexpr size_t kUserTokenMax = 63;

// The command line as this system sees it: the arguments after the program name, joined
// by single spaces.
std::string JoinCommandLine(int argc, const char* const* argv);

enum class LaunchRole {
    HandOver,  // the installed copy: refresh "quillgate.bin", start it, end
    Dialog,    // run the main window
    Refused,   // the command line was refused; show the error text and end
};

class CLaunchApp {
  public:
    // The command line from the first "/V:" on, handed to "quillgate.bin" as its whole
    // command line. At most kPlatformArgsMax characters.
    std::string PlatformArgs;
    // True when "-direct" occurs anywhere in the command line: the hand-over is skipped.
    bool DirectMode = false;

    // Reads "-direct" (into DirectMode), keeps the platform arguments when running as the
    // installed copy, and, as the platform edition's running copy ("ver.id" says "tarvo"),
    // checks the platform login and exports it to the environment. False means the
    // launcher must not start; `errorText` (UTF-8) says why.
    bool ParseCommandLine(const std::string& commandLine, const std::string& exePath,
                          std::string& errorText);

    // The role this process takes, decided once after ParseCommandLine succeeded.
    static LaunchRole DecideRole(const std::string& exePath, bool directMode);

    // Replaces "quillgate.bin" with a copy of "quillgate.exe" (retrying while the old copy
    // is still in use) and starts it with the platform arguments, then `extraArgs` (the
    // terminal front end's own options). False when the copy could not be made or
    // started; nothing is shown. `startedId` receives the copy's process id.
    bool PerformHandOver(const std::vector<std::string>& extraArgs = {},
                         uint32_t* startedId = nullptr) const;
};
