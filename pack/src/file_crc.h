// Private: whole-file helpers of the package code: the library CRC of a file and byte
// transforms of whole files (the inverted and scrambled package forms).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace AXP {

// CRC of the file, or of all but its last 4 bytes with `skipTrailer` (then `trailer`, when
// given, receives those 4 bytes as a u32 LE). False with an errno value in `error` (-1:
// shorter than the trailer); sets no library error.
bool CrcOfFile(std::string_view path, bool skipTrailer, uint32_t& crc, int& error,
               uint32_t* trailer = nullptr);

using ByteTransform = void (*)(uint8_t* data, size_t size, uint64_t position);

// Copies `source` through `temp`, each chunk passed through `transform` (with the file
// position of its first byte), optionally followed by the CRC trailer of what was
// written; then `temp`, flushed, is renamed over `destination` (both must lie on one file
// system). Errors: 3 "File=%s, errno=%d" (cannot
// open), 5 "errno=%d" (read, write or move; the temporary file is deleted).
bool TransformFile(std::string_view source, const std::string& temp, std::string_view destination,
                   ByteTransform transform, bool appendTrailer);

// Complements every byte of a file through "<path>.<pid>-<n>.tmp" beside it, which then
// replaces the file. Errors: 3 "File=%s, errno=%d" (cannot open), 5 "errno=%d" (read,
// write or rename; the file is unchanged).
bool ComplementFileInPlace(std::string_view path);

}  // namespace AXP
