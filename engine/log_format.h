// Bounded text formatting shared by the engine's two logs: nothing is ever written past
// the buffer, an over-long text is cut.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <string>

#include "platform/system_time.h"

namespace engine {

// The most bytes a formatted message or line holds, terminator included.
inline constexpr size_t kLogTextLimit = 4096;

// printf-style formatting cut at kLogTextLimit - 1 bytes. A format error gives "".
std::string FormatLogText(const char* format, va_list args);

// "[Dec 10 16:50:34] ": the engine log's time stamp (English month, as the C locale).
std::string LogTimeStamp(const platform::SystemTime& t);

// "[2026-12-10 16:50:34.123]": the thread framework's time stamp.
std::string FrameworkTimeStamp(const platform::SystemTime& t);

// `text` cut so that it and `ending` fit kLogTextLimit - 1 bytes, then `ending`: the
// ending survives the cut, so every line stays a whole line.
std::string WithLineEnd(std::string text, const char* ending);

}  // namespace engine
