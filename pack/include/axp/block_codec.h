// Base of the codecs whose entries decode only as a whole (LZO, LZMA): the position rule
// and the argument checks are the same for every such codec, so they live here once and
// a codec supplies only its decoder.
#pragma once

#include "axp/compress.h"

namespace AXP {

class BlockCodec : public ICompress {
  public:
    bool CanStream() const final { return false; }
    // position != 0: error 10 (a block has no middle to start from); otherwise
    // DecompressEx.
    bool Decompress(uint8_t* buffer, uint32_t capacity, uint32_t length,
                    uint32_t position) const final;
    // length > capacity, or a null buffer with bytes to decode: error 10. Length 0
    // succeeds with nothing decoded. Anything else goes to DecodeBlock.
    bool DecompressEx(uint8_t* buffer, uint32_t capacity, uint32_t length,
                      uint32_t& decodedLength) const final;

  protected:
    // Called with a buffer, 0 < length <= capacity and decodedLength already 0; sets
    // decodedLength only on success.
    virtual bool DecodeBlock(uint8_t* buffer, uint32_t capacity, uint32_t length,
                             uint32_t& decodedLength) const = 0;
};

}  // namespace AXP
