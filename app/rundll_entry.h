// Running an entry of a helper library the way the client's helpers expect it: the
// launcher starts "qg-rundll LIBRARY,ENTRY ARGUMENT" from the client folder, and the
// helper program calls the entry with the argument text.
#pragma once

#include <string>

// An entry point of a helper library: (window, instance, argument text, show state). The
// launcher's helper passes no window and no instance; the argument is the dialog's
// window id as eight upper-case hexadecimal digits.
extern "C" typedef void (*RundllEntry)(void* window, void* instance, const char* argument,
                                       int show);

// The helper program of the running launcher (FindRundllProgram, app/install_layout.h);
// empty when the executable's path is unknown.
std::string RundllProgramPath();
