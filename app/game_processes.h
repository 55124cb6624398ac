// Finding and ending running copies of the game client, so that no update or repair
// touches its files while it runs.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/process.h"

// True when `process` runs the game at `gamePath` (a native absolute path). Compared
// without regard to letter case, the game path must occur in the process's image path,
// or, for a game run through Wine (whose image is the Wine loader), in the Windows path
// of its first argument with the drive "Z:" mapped to "/".
bool IsSameImage(const platform::ProcessEntry& process, const std::string& gamePath);

// The ids of every process running the game.
std::vector<uint32_t> FindGameProcesses(const std::string& gamePath);

// Ends every process running the game; the number that could be signalled.
int TerminateGameProcesses(const std::string& gamePath);

// The native absolute path of the game: the client directory (current directory) joined
// with the configured, GBK-encoded game executable.
std::string GameImagePath(const std::string& gameExeGbk);
