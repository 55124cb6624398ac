#include "app/launch_app.h"

#include <sstream>

#include "platform/ascii_text.h"
#include "platform/file_system.h"
#include "platform/process.h"
#include "update/version_files.h"

namespace {

constexpr const char* kPlatformEdition = "tarvo";
constexpr const char* kUserTokenPrefix = "trv~";

std::string FileNamePart(const std::string& path) {
    size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// "/V:value" style token: the value after the prefix, non-empty and within `max`.
bool TokenValue(const std::string& token, const char* prefix, size_t max, std::string& value) {
    const std::string p(prefix);
    if (token.compare(0, p.size(), p) != 0 || token.size() == p.size()) return false;
    value = token.substr(p.size());
    return value.size() <= max;
}

// The platform login of the running copy: a session token and a prefixed user token, in
// either order.
bool ParsePlatformLogin(const std::string& commandLine, std::string& session, std::string& user) {
    std::istringstream in(commandLine);
    std::string first, second;
    if (!(in >> first >> second)) return false;
    // Longer tokens than the buffers hold are refused rather than cut.
    if (first.size() > kCommandTokenMax || second.size() > kCommandTokenMax) return false;
    if (TokenValue(second, "/V:", kSessionMax, session) &&
        TokenValue(first, "/N:", kUserTokenMax, user))
        return true;
    return TokenValue(first, "/V:", kSessionMax, session) &&
           TokenValue(second, "/N:", kUserTokenMax, user);
}

}  // namespace

std::string JoinCommandLine(int argc, const char* const* argv) {
    std::string line;
    for (int i = 1; i < argc; ++i) {
        if (i > 1) line.push_back(' ');
        line += argv[i];
    }
    return line;
}

bool CLaunchApp::ParseCommandLine(const std::string& commandLine, const std::string& exePath,
                                  std::string& errorText) {
    if (commandLine.find("-direct") != std::string::npos) DirectMode = true;

    const size_t v = commandLine.find("/V:");
    if (exePath.find(kInstalledLauncher) != std::string::npos && v != std::string::npos) {
        PlatformArgs = commandLine.substr(v, kPlatformArgsMax);
        return true;
    }
    if (exePath.find(kRunningLauncher) == std::string::npos) return true;

    std::string edition;
    if (!ReadEditionIdText(kEditionIdFile, edition) || edition != kPlatformEdition) return true;

    std::string session, user;
    const size_t prefix = std::char_traits<char>::length(kUserTokenPrefix);
    if (ParsePlatformLogin(commandLine, session, user) && user.size() > prefix &&
        user.compare(0, prefix, kUserTokenPrefix) == 0) {
        platform::SetEnvironmentVariable("TARVO_USER_ID", user.substr(prefix));
        platform::SetEnvironmentVariable("TARVO_SESSION_ID", session);
        return true;
    }
    errorText = kPlatformLoginRequired;
    return false;
}

LaunchRole CLaunchApp::DecideRole(const std::string& exePath, bool directMode) {
    if (!directMode && platform::EqualsIgnoringAsciiCase(FileNamePart(exePath), kInstalledLauncher))
        return LaunchRole::HandOver;
    return LaunchRole::Dialog;
}

bool CLaunchApp::PerformHandOver(const std::vector<std::string>& extraArgs,
                                 uint32_t* startedId) const {
    if (platform::PathExists(kRunningLauncher)) {
        platform::MakeWritable(kRunningLauncher);
        for (int retries = 0; !platform::DeleteFileAt(kRunningLauncher); ++retries) {
            platform::SleepMilliseconds(100);
            if (retries == 20) return false;
            platform::MakeWritable(kRunningLauncher);
        }
    }
    for (int retries = 0; !platform::CopyFileOver(kInstalledLauncher, kRunningLauncher);
         ++retries) {
        platform::SleepMilliseconds(10);
        if (retries == 10) return false;
    }
    std::vector<std::string> args;
    std::istringstream in(PlatformArgs);
    for (std::string token; in >> token;) args.push_back(token);
    args.insert(args.end(), extraArgs.begin(), extraArgs.end());
    return platform::StartProcess(std::string("./") + kRunningLauncher, args, "", startedId).ok();
}
