// The INI parser, included in the one configuration every file of ours uses: Debian's
// header only compiles without its character conversions.
#pragma once

#ifndef SI_NO_CONVERSION
#define SI_NO_CONVERSION
#endif
#include <SimpleIni.h>
