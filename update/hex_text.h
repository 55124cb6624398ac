// Hex forms of keys, digests and signatures: written in lower case, read in either case.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

std::string HexText(const uint8_t* bytes, size_t size);

// Exactly 2 * size hex digits, nothing else.
bool ParseHexExactly(std::string_view hex, uint8_t* bytes, size_t size);
