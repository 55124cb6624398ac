// SHA-256 of published files: computed while a download streams to disk, or over a file
// already on disk (a cached package).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/digest.h"

using platform::Sha256Digest;
using platform::Sha256Of;

// Feeds bytes in order; `Finish` gives the digest of everything fed since the last `Restart`
// and `bytes` how many that was.
class Sha256Stream {
  public:
    void Restart() {
        stream_.Restart();
        bytes_ = 0;
    }
    void Update(const void* data, size_t size) {
        stream_.Update(data, size);
        bytes_ += size;
    }
    Sha256Digest Finish() {
        bytes_ = 0;
        return stream_.Finish();
    }
    uint64_t bytes() const { return bytes_; }

  private:
    platform::Sha256Stream stream_;
    uint64_t bytes_ = 0;
};

// Reads the file at `gbkPath` in chunks; false when it cannot be read.
bool Sha256OfFile(std::string_view gbkPath, Sha256Digest& digest, uint64_t& size);

// 64 lower-case hex digits.
std::string DigestHex(const Sha256Digest& digest);
// Accepts 64 hex digits in either case.
bool ParseDigestHex(std::string_view hex, Sha256Digest& digest);
