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
    // Decoding in place needs the stored bytes apart from the output, so they are copied
    // once and decoded with DecodeInto.
    bool DecompressEx(uint8_t* buffer, uint32_t capacity, uint32_t length,
                      uint32_t& decodedLength) const final;
    // Decodes the `length` stored bytes at `input` into out[0..capacity), never writing
    // past `capacity`: the way to fill a caller's buffer without an extra copy. `input` is
    // scratch (unmasked in place) and must not overlap `out`. A null input or output with
    // bytes to decode: error 10; length 0 succeeds with nothing decoded; otherwise the
    // codec's own faults, as DecompressEx reports them.
    bool DecodeInto(uint8_t* input, uint32_t length, uint8_t* out, uint32_t capacity,
                    uint32_t& decodedLength) const;

  protected:
    // Called with input and output, length > 0 and decodedLength already 0; sets
    // decodedLength only on success.
    virtual bool DecodeBlock(uint8_t* input, uint32_t length, uint8_t* out, uint32_t capacity,
                             uint32_t& decodedLength) const = 0;
};

}  // namespace AXP
