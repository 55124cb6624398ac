// The position key k(p) of the XOR codec (type 1) and of scrambled patch
// packages (form 3). Both must use this one function: data written with one
// key reads only with the same key.
//
// k(p) = kXorKeyTable[(kXorKeyMultiplier * p + kXorKeyAddend) mod 256] XOR kXorKeyConstant.
// The multiplier is odd, so the index runs through all 256 table bytes every 256
// positions; k depends only on p mod 256.
#pragma once

#include <cstddef>
#include <cstdint>

namespace AXP {

inline constexpr uint32_t kXorKeyMultiplier = 167;
inline constexpr uint32_t kXorKeyAddend = 59;
inline constexpr uint8_t kXorKeyConstant = 0xA7;
extern const uint8_t kXorKeyTable[256];

inline uint8_t XorKeyByte(uint64_t position) {
    return static_cast<uint8_t>(
        kXorKeyTable[(kXorKeyMultiplier * position + kXorKeyAddend) & 0xFF] ^ kXorKeyConstant);
}

// XORs `size` bytes with k(position), k(position + 1), ... (its own inverse).
void XorWithKey(void* data, size_t size, uint64_t position);

}  // namespace AXP
