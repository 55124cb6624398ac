// Hexadecimal text of digests, keys and signatures: written in lower case, read in either
// case. One form for every module, so that a digest written by one compares equal in
// another.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

// The value of one hexadecimal digit (either case), -1 for any other byte.
int HexDigitValue(char c);
// Two lower-case digits per byte.
std::string LowerHex(const uint8_t* bytes, size_t count);
// Exactly 2 * `count` hexadecimal digits (either case) into `count` bytes; false, with
// `out` partly written, for anything else.
bool ParseHex(std::string_view text, uint8_t* out, size_t count);

}  // namespace platform
