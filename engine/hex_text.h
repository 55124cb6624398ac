// Digests as the engine writes and compares them: lower-case hexadecimal text.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace engine {

std::string LowerHex(const unsigned char* bytes, size_t count);
std::string LowerAscii(std::string text);
// Exactly 2 * `count` hexadecimal digits (either case) into `count` bytes; false otherwise.
bool ParseHex(std::string_view text, unsigned char* out, size_t count);

}  // namespace engine
