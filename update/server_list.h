// The game's server list, stored scrambled in the download directory for the client.
#pragma once

#include <string_view>

// Every plain server list contains this text.
inline constexpr const char* kServerListMarker = "SERVER_BEGIN";

// Scrambles the downloaded list at `path` in place when it is plain (holds the marker
// anywhere, NUL bytes included); a list that arrived scrambled is left byte for byte.
// False when the file cannot be read or rewritten.
bool StoreServerListScrambled(std::string_view path);
