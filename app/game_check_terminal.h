// The running-client check on a terminal: before files are touched, a running game is
// closed by the user, forced closed, or the update is cancelled.
#pragma once

#include <cstdio>
#include <string>

// True when the user cancelled (the update must stop); false when no game runs (any
// more). Without a terminal to ask on, a running game cancels. `in`/`out` are the
// terminal; `pollMs` is how long to wait between checks while the user closes the game.
bool CheckGameRunningOnTerminal(const std::string& gamePath, FILE* in, FILE* out, bool interactive,
                                unsigned pollMs = 1000);
