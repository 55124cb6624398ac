// The running-client check on a terminal: before files are touched, a running game is
// closed by the user, forced closed, or the update is cancelled.
#pragma once

#include <cstdio>
#include <string>

#include "app/game_processes.h"

// True when the user cancelled (the update must stop); false when no game runs (any
// more): also after a force close, which waits until the game has really gone. Without
// a terminal to ask on, a running game cancels. `in`/`out` are the terminal; `pollMs` is
// how long to wait between checks while the game is closing.
bool CheckGameRunningOnTerminal(const std::string& gamePath, FILE* in, FILE* out, bool interactive,
                                unsigned pollMs = 1000,
                                const ProcessAccess& access = SystemProcesses());
