// Checks of a launcher taken from a published archive before it replaces the installed
// one: a launcher that cannot start would end every later start of the client.
#pragma once

#include <string_view>

// True when `image` is a whole executable of this platform: an ELF file of this
// machine's class, byte order and architecture, of an executable type, whose program and
// section header tables lie within the file.
bool IsNativeExecutableImage(std::string_view image);
