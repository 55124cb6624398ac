// The position-keyed scrambling of the launcher's small text files (the configuration
// file, "ver.id" and the server list). XOR with the key is its own inverse.
#pragma once

#include <cstddef>
#include <cstdint>

// The key byte for the byte at zero-based position `i` of a file: a fixed rearrangement
// of bits 0, 1, 2, 6, 7, 8, 9 and 10 of i.
constexpr uint8_t PositionKey(int32_t i) {
    const uint32_t u = static_cast<uint32_t>(i);
    return static_cast<uint8_t>(((u >> 1) & 0x80) | ((u >> 4) & 0x40) | ((u >> 2) & 0x20) |
                                ((u & 1) << 4) | ((u >> 3) & 0x08) | ((u >> 8) & 0x02) |
                                ((u >> 1) & 0x01) | (u & 0x04));
}

// Scrambles (or unscrambles) `size` bytes that start at file position `start`.
void ScrambleBuffer(void* data, size_t size, size_t start = 0);
