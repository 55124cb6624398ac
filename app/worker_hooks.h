// The update worker's hooks that both front ends (the window and the terminal) set alike:
// the check of the launcher's command line, whether this run may replace the launcher, the
// launcher's version, a claimed free-space figure, and the engine set up once the
// configuration is read. Each front end adds what it shows and asks on its own.
#pragma once

#include <string>
#include <vector>

#include "app/launch_app.h"
#include "update/launch_worker.h"

// `app` outlives the worker that gets the hooks; `args` are the launcher's own arguments.
CLaunchWorker::Hooks CommonUpdateHooks(CLaunchApp& app, const std::vector<std::string>& args,
                                       const std::string& launcherVersion);
