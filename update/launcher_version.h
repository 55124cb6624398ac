// The launcher's own version, compared with the newest published launcher. Each program
// links one definition (update/launcher_version.cpp), built with QG_LAUNCHER_VERSION
// when it should claim another version (the tests build a "newer" launcher that way).
#pragma once

const char* LauncherVersionText();
