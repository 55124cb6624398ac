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
    DataStream(PackFile* pack, const ICompress* codec, platform::IFile* file,
               uint64_t dataOffset, uint32_t storedSize, uint32_t unpackedSize);
    ~DataStream() override;
    // Reads and decodes the whole entry into the preload buffer; false sets the last error.
    bool Preload();
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
