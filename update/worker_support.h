// What both workers (the update and the repair) use alike while they report: names and
// library texts shown in the window, and the clock that spaces their progress texts.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "platform/text_encoding.h"

// GBK names and library texts as the UTF-8 messages show them.
inline std::string Shown(const std::string& gbk) { return platform::GbkToUtf8Lossy(gbk); }

// Milliseconds of the steady clock: only differences mean anything.
inline uint64_t TickMilliseconds() {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
}
