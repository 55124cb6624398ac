// AXP::CompressManager: the process-wide codec registry. Private header; users
// reach it through GetCompressManager() in axp/compress.h.
#pragma once

#include <mutex>
#include <vector>

#include "axp/compress.h"

namespace AXP {

class CompressManager final : public ICompressMgr {
  public:
    CompressManager();
    bool Register(ICompress* codec) override;
    uint32_t GetCount() const override;
    ICompress* GetByIndex(uint32_t index) const override;
    ICompress* GetByType(uint8_t type) const override;
    bool CompressFile(ICompress* codec, std::string_view source, std::string_view destination,
                      uint32_t& unpackedSize, const void* header, uint32_t headerLength,
                      bool trailer, uint32_t& compressedSize) override;
    bool DecompressFile(ICompress* codec, std::string_view source, std::string_view destination,
                        uint32_t skip, uint32_t outputSize) override;

  private:
    mutable std::mutex mutex_;
    std::vector<ICompress*> codecs_;
};

}  // namespace AXP
