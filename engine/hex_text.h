// Digests as the engine writes and compares them: lower-case hexadecimal text.
#pragma once

#include <cstddef>
#include <string>

namespace engine {

std::string LowerHex(const unsigned char* bytes, size_t count);
std::string LowerAscii(std::string text);

}  // namespace engine
