#include "update/launcher_version.h"

#include "update/version.h"

#ifdef QG_LAUNCHER_VERSION
const char* LauncherVersionText() { return QG_LAUNCHER_VERSION; }
#else
const char* LauncherVersionText() { return kLauncherVersionText; }
#endif
