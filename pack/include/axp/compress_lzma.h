// Codec type 3: an LZMA block, then every byte i XORed with byte (i mod 4) of
// kLzmaWordMask (little-endian). The block (before masking):
//   byte 0      x86 branch filter flag: 0 none, 1 x86 BCJ applied before compression
//   bytes 1-5   LZMA properties (lc/lp/pb byte, dictionary size u32 LE)
//   bytes 6-13  uncompressed size, u64 LE, high 4 bytes 0
//   bytes 14-   raw LZMA1 stream (liblzma)
// Compression tries without and with the x86 filter and keeps the smaller. The properties
// name an 8 MiB dictionary. Does not stream.
#pragma once

#include "axp/block_codec.h"

namespace AXP {

inline constexpr uint32_t kLzmaWordMask = 0x6D2B47C5;
inline constexpr uint32_t kLzmaHeaderSize = 14;
inline constexpr uint32_t kLzmaDictionarySize = 0x800000;

class Compress_LZMA final : public BlockCodec {
  public:
    static constexpr uint8_t kType = 3;
    uint8_t GetType() const override { return kType; }
    // round4(max(trunc(size * 1.02), size + size/16 + 128)): size * 1.02 alone
    // cannot hold the 14-byte header and LZMA's overhead on small or incompressible input.
    uint32_t GetMaxCompressedSize(uint32_t size) const override;
    // capacity below GetMaxCompressedSize(length): error 9 "LZMA compress=%d";
    // encoder failure: error 19 "LZMA compress[%d]".
    bool Compress(uint8_t* buffer, uint32_t capacity, uint32_t& length) const override;
    // With 11-bit probabilities a likely bit costs at least 0.022 bits, so a 273-byte
    // repeat costs at least 0.3 bits: an input byte decodes to fewer than 8192 bytes.
    uint64_t GetMaxDecompressedSize(uint32_t storedSize) const override {
        return uint64_t{storedSize} * 8192 + 4096;
    }

  private:
    // Argument faults (error 10) are BlockCodec's. Input below 14 bytes, a size with high
    // bytes set, invalid properties, a dictionary above 8 MiB or a decoder failure:
    // error 19 "LZMA decompress[%d]"; a size above capacity: error 9 "LZMA decompress=%d".
    // The decoder never allocates a dictionary larger than the block's uncompressed size
    // (at least 4 KiB).
    bool DecodeBlock(uint8_t* input, uint32_t length, uint8_t* out, uint32_t capacity,
                     uint32_t& decodedLength) const override;
};

}  // namespace AXP
