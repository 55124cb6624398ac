#include "app/worker_hooks.h"

#include <cstdlib>

#include "app/engine_setup.h"
#include "platform/process.h"

CLaunchWorker::Hooks CommonUpdateHooks(CLaunchApp& app, const std::vector<std::string>& args,
                                       const std::string& launcherVersion) {
    CLaunchWorker::Hooks hooks;
    hooks.commandLineCheck = [&app, args,
                              exePath = platform::GetExecutablePath()](std::string& error) {
        std::string line;
        for (size_t i = 0; i < args.size(); ++i) line += (i ? " " : "") + args[i];
        return app.ParseCommandLine(line, exePath, error);
    };
    // A launcher restarted after a self-update never replaces itself again in this run.
    bool afterSelfUpdate = false;
    for (const std::string& a : args) afterSelfUpdate |= a == kAfterSelfUpdateOption;
    hooks.selfUpdateAllowed = !afterSelfUpdate;
    if (!launcherVersion.empty()) hooks.launcherVersion = launcherVersion;
    // Tests and demonstrations can claim a free-space figure for the launcher's drive.
    if (const char* fake = std::getenv("QUILLGATE_FAKE_FREE_BYTES")) {
        const uint64_t bytes = std::strtoull(fake, nullptr, 10);
        hooks.freeDiskBytes = [bytes] { return std::optional<uint64_t>(bytes); };
    }
    hooks.configured = [](const LauncherConfig& config) { SetUpEngine(config.engine); };
    return hooks;
}
