// AXP::DataStream: the IStream implementation that PackFile::OpenFile hands out.
// Not constructible by users; see axp/stream.h for the contract.
#pragma once

#include <cstdint>
#include <memory>

#include "axp/stream.h"

namespace platform {
class IFile;
}

namespace AXP {

class BlockCodec;
class ICompress;
class PackFile;

class DataStream final : public IStream {
  public:
    uint32_t Read(void* buffer, uint32_t count) override;
    uint32_t ReadLine(char* buffer, uint32_t capacity) override;
    void SkipLine() override;
    uint32_t Seek(uint32_t position) override;
    uint32_t Tell() const override { return position_; }
    bool IsEof() const override { return position_ >= unpackedSize_; }
    uint32_t GetSize() const override { return unpackedSize_; }
    uint32_t GetCrc() override;
    void Release() override;

  private:
    friend class PackFile;
    DataStream(PackFile* pack, const ICompress* codec, platform::IFile* file, uint64_t dataOffset,
               uint32_t storedSize, uint32_t unpackedSize);
    ~DataStream() override;
    // Whether OpenFile reads the whole entry at once: small entries, and every entry whose
    // codec decodes only as a whole.
    bool NeedsPreload() const;
    // Reads and decodes the whole entry into the preload buffer; false sets the last error.
    bool Preload();
    // Reads the whole decoded entry (GetSize() bytes) into `out`, on a stream that has not
    // been preloaded: a block codec decodes straight into it, without a preload buffer and
    // its copy. Faults are reported as Preload reports them; `out` may then hold garbage.
    bool ReadWhole(uint8_t* out);
    // The stored bytes decoded into out[0..GetSize()); false on any fault, or when the
    // decoded length is not the entry's size.
    bool DecodeStraight(const BlockCodec& codec, uint8_t* out);
    // Copies decoded bytes [position, position + n) into out (n already bounded).
    bool ReadAt(uint32_t position, uint8_t* out, uint32_t n);
    // Drops pack and handle (the pack is closing); the pack then destroys the stream.
    void Detach();

    PackFile* pack_;
    const ICompress* codec_;
    platform::IFile* file_;
    uint64_t dataOffset_;
    uint32_t position_ = 0;
    uint32_t storedSize_;
    uint32_t unpackedSize_;
    uint32_t crc_ = 0xFFFFFFFFu;
    bool crcValid_ = false;
    std::unique_ptr<uint8_t[]> preload_;
};

}  // namespace AXP
