// Starting the game once the client is up to date.
#pragma once

#include <string>

struct LauncherConfig;

// Clears the writer flags that an interrupted update left in the packs of "resource",
// starts the game ("-run", plus "-qstyle" in the quick style) in its own folder with the
// launcher's environment, and records the style in "style.cfg". A Windows executable
// (".exe") runs through wine when wine is installed. False when the game could not be
// started; then nothing is recorded.
bool RunGame(const LauncherConfig& config);

// The command line of the game: "%s -run" or "%s -run -qstyle", at most 519 characters.
std::string GameCommandLine(const std::string& exePath, bool quickStyle);
