// Codec type 1: every byte at entry position p XORed with XorKeyByte(p) (axp/xor_key.h).
// Same length; streams (any part decodes alone given its position).
#pragma once

#include "axp/compress.h"

namespace AXP {

class Compress_XOR final : public ICompress {
  public:
    static constexpr uint8_t kType = 1;
    uint8_t GetType() const override { return kType; }
    bool CanStream() const override { return true; }
    uint32_t GetMaxCompressedSize(uint32_t size) const override { return size; }
    // length > capacity: error 10.
    bool Compress(uint8_t* buffer, uint32_t capacity, uint32_t& length) const override;
    // Null buffer or length > capacity: error 10; length 0 succeeds.
    bool Decompress(uint8_t* buffer, uint32_t capacity, uint32_t length,
                    uint32_t position) const override;
};

}  // namespace AXP
