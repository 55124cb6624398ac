// The INI parser, included in the one configuration every file of ours uses: Debian's
// header only compiles without its character conversions.
// Which settings file is read with which of the three INI readers, and why their rules
// differ: docs/formats/README.md (Settings files).
#pragma once

#ifndef SI_NO_CONVERSION
#define SI_NO_CONVERSION
#endif
#include <SimpleIni.h>
