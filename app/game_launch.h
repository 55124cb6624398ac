// Starting the game once the client is up to date.
#pragma once

#include <cstddef>
#include <string>

struct LauncherConfig;

// The longest game command line ("%s -run -qstyle"), in bytes.
inline constexpr size_t kGameCommandLineMax = 519;

// How a start of the game went.
struct GameLaunch {
    bool started = false;
    std::string whyNot;  // UTF-8, for the user, when it did not start
};

// Clears the writer flags that an interrupted update left in the packs of "resource",
// starts the game ("-run", plus "-qstyle" in the quick style) in its own folder with the
// launcher's environment, and records the style in "style.cfg". A Windows executable
// ("MZ" header) runs through wine. Holds the process's client gate meanwhile, and is
// refused while an update or a repair holds it. When the game cannot start (a command
// line over kGameCommandLineMax bytes, a missing game, one without its execute
// permission, a Windows game without wine, a start the system refuses) nothing is
// recorded and `whyNot` says why.
GameLaunch RunGame(const LauncherConfig& config);

// The command line of the game: "%s -run" or "%s -run -qstyle"; empty when it would be
// longer than kGameCommandLineMax bytes.
std::string GameCommandLine(const std::string& exePath, bool quickStyle);

// Whether the file at `nativePath` is a Windows executable (it starts with "MZ"), which
// runs through wine here.
bool IsWindowsProgram(const std::string& nativePath);
