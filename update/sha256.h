// SHA-256 of published files: computed while a download streams to disk, or over a file
// already on disk (a cached package).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

using Sha256Digest = std::array<uint8_t, 32>;

// Feeds bytes in order; `Finish` gives the digest of everything fed since the last `Restart`.
class Sha256Stream {
  public:
    Sha256Stream();
    ~Sha256Stream();
    Sha256Stream(const Sha256Stream&) = delete;
    Sha256Stream& operator=(const Sha256Stream&) = delete;

    void Restart();
    void Update(const void* data, size_t size);
    Sha256Digest Finish();
    uint64_t bytes() const { return bytes_; }

  private:
    struct State;
    std::unique_ptr<State> state_;
    uint64_t bytes_ = 0;
};

Sha256Digest Sha256Of(std::string_view data);

// Reads the file at `gbkPath` in chunks; false when it cannot be read.
bool Sha256OfFile(std::string_view gbkPath, Sha256Digest& digest, uint64_t& size);

// 64 lower-case hex digits.
std::string DigestHex(const Sha256Digest& digest);
// Accepts 64 hex digits in either case.
bool ParseDigestHex(std::string_view hex, Sha256Digest& digest);
