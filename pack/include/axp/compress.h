// Codecs and the compression manager.
//
// Codec type ids: 0 = stored as is (no codec), 1 = XOR (axp/compress_xor.h, streams),
// 2 = LZO (axp/compress_lzo.h), 3 = LZMA (axp/compress_lzma.h).
//
// Thread safety: codecs hold no state and may be called from several threads; the
// manager is created once (on first use) and is safe to query from several threads.
// Failure: false / null results plus the library's last error (axp/error.h).
#pragma once

#include <cstdint>
#include <string_view>

namespace AXP {

class ICompress {
  public:
    virtual uint8_t GetType() const = 0;
    // True when any part of an entry can be decoded alone, given its position (XOR only).
    virtual bool CanStream() const = 0;
    // A buffer of this size always holds the compressed form of `size` bytes.
    virtual uint32_t GetMaxCompressedSize(uint32_t size) const = 0;
    // Compresses the first `length` bytes of `buffer` in place; `capacity` is the buffer's
    // size. On success `length` holds the compressed size.
    virtual bool Compress(uint8_t* buffer, uint32_t capacity, uint32_t& length) const = 0;
    // Decodes the `length` bytes at the start of `buffer` in place, never writing past
    // `capacity`. `position` is the offset of these bytes in the entry (streaming codecs
    // only; others need 0).
    virtual bool Decompress(uint8_t* buffer, uint32_t capacity, uint32_t length,
                            uint32_t position) const = 0;
    // Added after the original slots: Decompress at position 0 that also gives the decoded
    // length (the pack checks it against the entry's unpacked size). The default suits a
    // same-length codec.
    virtual bool DecompressEx(uint8_t* buffer, uint32_t capacity, uint32_t length,
                              uint32_t& decodedLength) const {
        decodedLength = length;
        return Decompress(buffer, capacity, length, 0);
    }

    // Added after the original slots: the largest decoded size `storedSize` bytes can have.
    // The pack refuses an entry claiming more before allocating anything for it.
    virtual uint64_t GetMaxDecompressedSize(uint32_t storedSize) const { return storedSize; }

  protected:
    virtual ~ICompress() = default;
};

class ICompressMgr {
  public:
    // Adds a codec (not owned; it must outlive the process's use of the manager). A null
    // codec: error 10; a second codec of the same type: error 17 "compresType=%d".
    virtual bool Register(ICompress* codec) = 0;
    virtual uint32_t GetCount() const = 0;
    // Out of range: error 10, null.
    virtual ICompress* GetByIndex(uint32_t index) const = 0;
    // The first codec of that type; none (type 0 included): error 10, null.
    virtual ICompress* GetByType(uint8_t type) const = 0;
    // Compresses the file `source` (GBK path) into `destination`: the header bytes (if any),
    // the compressed bytes, then with `trailer` set the CRC of everything written as 4
    // bytes little-endian. `unpackedSize` gets the source size, `compressedSize` the
    // compressed size (header and trailer excluded). The output is written beside
    // `destination`, flushed and renamed over it, so `destination` may be `source`, and a
    // failed write leaves it as it was (also for DecompressFile).
    virtual bool CompressFile(ICompress* codec, std::string_view source,
                              std::string_view destination, uint32_t& unpackedSize,
                              const void* header, uint32_t headerLength, bool trailer,
                              uint32_t& compressedSize) = 0;
    // Decodes `source` from byte `skip` to 4 bytes before its end (the trailer is left out)
    // and writes exactly `outputSize` bytes of the result to `destination`.
    virtual bool DecompressFile(ICompress* codec, std::string_view source,
                                std::string_view destination, uint32_t skip,
                                uint32_t outputSize) = 0;

  protected:
    virtual ~ICompressMgr() = default;
};

// The process-wide manager, created on first use with XOR, LZO and LZMA registered in
// that order. Never destroyed.
ICompressMgr& GetCompressManager();

}  // namespace AXP
