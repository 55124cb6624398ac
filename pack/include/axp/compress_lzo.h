// Codec type 2: LZO1X-999 at level 8 followed by lzo1x_optimize, then every byte i XORed
// with byte (i mod 4) of kLzoWordMask (little-endian). Decoded with lzo1x_decompress_safe
// bounded by the capacity. Does not stream.
#pragma once

#include "axp/block_codec.h"

namespace AXP {

inline constexpr uint32_t kLzoWordMask = 0x5A3C9E61;

class Compress_LZO final : public BlockCodec {
  public:
    static constexpr uint8_t kType = 2;
    uint8_t GetType() const override { return kType; }
    // size + size/16 + 67, rounded up to a multiple of 4.
    uint32_t GetMaxCompressedSize(uint32_t size) const override;
    // capacity below GetMaxCompressedSize(length): error 9 "LZO compress=%d";
    // compressor or optimiser error: error 19 "lzo_err=%d".
    bool Compress(uint8_t* buffer, uint32_t capacity, uint32_t& length) const override;
    // An LZO1X byte expands to at most 255 bytes (run-length extension bytes).
    uint64_t GetMaxDecompressedSize(uint32_t storedSize) const override {
        return uint64_t{storedSize} * 256 + 4096;
    }

  private:
    // Argument faults (error 10) are BlockCodec's. Decoder error (output that would not
    // fit in capacity included): error 19 "lzo_err=%d". Bytes of the output past the
    // decoded ones are left as they are.
    bool DecodeBlock(uint8_t* input, uint32_t length, uint8_t* out, uint32_t capacity,
                     uint32_t& decodedLength) const override;
};

// XORs byte i of `data` with byte (i mod 4) of `mask` taken little-endian (own inverse).
void ApplyWordMask(uint8_t* data, uint32_t size, uint32_t mask);

}  // namespace AXP
