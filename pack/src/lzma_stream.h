// Private: decoding a large LZMA block (codec type 3, axp/compress_lzma.h) from a file in
// bounded chunks, for sealed packages, whose whole content must never be held in memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

namespace platform {
class IFile;
}

namespace AXP {

// Receives each decoded chunk with its offset in the output; false stops the decode (the
// sink sets the last error).
using LzmaChunkSink = std::function<bool(uint64_t offset, const uint8_t* data, size_t size)>;

// Decodes the masked block of `length` bytes at `offset` of `in`, which must decode to
// exactly `expectedSize` bytes. Header faults as Compress_LZMA (error 19); a header size
// other than `expectedSize`, or one the block cannot hold, is error 2 before anything is
// decoded; a stream that ends early or runs past its size is error 19.
bool DecodeLzmaBlockStream(platform::IFile& in, uint64_t offset, uint32_t length,
                           uint32_t expectedSize, const LzmaChunkSink& sink);

}  // namespace AXP
