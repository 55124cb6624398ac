// Process-wide settings decided at start-up and read by every part of the launcher.
#pragma once

#include <cstdint>

// True when "-direct" occurs anywhere in the command line: the hand-over is skipped.
inline bool DirectMode = false;

// Language of the message tables (950 selects the traditional table) and of the dialog
// font (1258 selects a Latin font). Set before any worker thread starts.
inline uint32_t LanguageCodePage = 936;
