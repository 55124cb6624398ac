// Checks of a launcher taken from a published archive before it replaces the installed
// one: a launcher that cannot start would end every later start of the client.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// How long a launcher may take to tell its version before it counts as broken.
inline constexpr uint32_t kLauncherVersionTimeoutMs = 15000;

// True when `image` is a whole executable of this platform: an ELF file of this
// machine's class, byte order and architecture, of an executable type, whose program and
// section header tables lie within the file.
bool IsNativeExecutableImage(std::string_view image);

// Runs the launcher at `path` (a native path with "/") once with "--version", in
// `workingDir` (native; empty: the current directory): true when it starts, ends by
// itself with code 0 within the time-out and prints one line, which is returned without
// its line end.
bool AskLauncherVersion(const std::string& path, std::string& version,
                        const std::string& workingDir = "");
