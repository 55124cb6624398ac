// The library's CRC: reflected table-driven CRC-32 (init 0xFFFFFFFF, final
// complement) over the polynomial 0xEDB88320 table with entries 64..127 and 128..191
// exchanged. Differs from standard CRC-32 for most inputs. Thread safe.
#pragma once

#include <cstddef>
#include <cstdint>

namespace AXP {

inline constexpr uint32_t kCrcInit = 0xFFFFFFFFu;

// Table entry i (0..255).
uint32_t CrcTableValue(uint32_t index);
// Running form: start with kCrcInit, feed chunks, finish with CrcFinal.
// Eight bytes at a time; CrcUpdateBytewise is the plain one-byte loop, the reference.
uint32_t CrcUpdate(uint32_t state, const void* data, size_t size);
uint32_t CrcUpdateBytewise(uint32_t state, const void* data, size_t size);
inline uint32_t CrcFinal(uint32_t state) { return ~state; }
// CRC of one buffer.
inline uint32_t Crc(const void* data, size_t size) {
    return CrcFinal(CrcUpdate(kCrcInit, data, size));
}

}  // namespace AXP
