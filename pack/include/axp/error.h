// The last error of the calling thread: one code and one text (at most 1024 characters),
// overwritten by every failing operation on that thread. Each thread has its own, so
// threads that fail at the same time each read their own error; an error set on one
// thread is never seen on another.
//
// System error numbers in the texts ("errno=%d") are errno values.
#pragma once

#include <cstdint>
#include <string>

namespace AXP {

enum ErrorCode : uint32_t {
    kErrNone = 0,
    kErrNotFound = 1,  // entry or source file not found
    kErrCorrupt = 2,   // data corrupt or inconsistent
    kErrOpen = 3,      // cannot open/create, or a write in const mode
    kErrRead = 4,
    kErrWrite = 5,
    kErrSeek = 6,
    kErrNotClosed = 7,    // editing flag set
    kErrNoMemory = 9,     // buffer too small or no memory
    kErrInvalidArg = 10,  // invalid argument, or no pack open
    kErrHashTableFull = 11,
    kErrNoSpace = 12,
    kErrZip = 14,
    kErrVersion = 16,
    kErrAlreadySet = 17,
    kErrUnknownCompress = 18,
    kErrCodec = 19,
};

inline constexpr size_t kMaxErrorText = 1024;

uint32_t GetLastErrorCode();
std::string GetLastErrorText();

// Sets both (printf-style text, cut at kMaxErrorText characters). Used by the library and
// by code built on it (the updater).
void SetLastError(uint32_t code, const char* format, ...) __attribute__((format(printf, 2, 3)));
// Sets the code with an empty text.
void SetLastError(uint32_t code);

}  // namespace AXP
