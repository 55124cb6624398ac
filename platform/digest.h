// Message digests: MD5 (the engine's file digests and keys, the machine id) and SHA-256
// (published files, block lists). The one place that calls OpenSSL's libcrypto, whose
// digests use the processor's SHA instructions where they exist: hashing keeps pace with a
// local download.
//
// Errors: none to report; a context OpenSSL cannot allocate throws std::bad_alloc.
// Thread safety: a stream belongs to one thread; separate streams share nothing.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace platform {

using Md5Digest = std::array<uint8_t, 16>;
using Sha256Digest = std::array<uint8_t, 32>;

// The running digest behind the streams below.
class DigestContext {
  public:
    DigestContext(const DigestContext&) = delete;
    DigestContext& operator=(const DigestContext&) = delete;

    // Forgets everything given so far.
    void Restart();
    void Update(const void* data, size_t size);

  protected:
    enum class Algorithm { Md5, Sha256 };
    explicit DigestContext(Algorithm algorithm);
    ~DigestContext();
    // Writes the digest of everything given since the start or the last Restart, then
    // starts afresh.
    void FinishInto(uint8_t* out);

  private:
    Algorithm algorithm_;
    void* context_;
};

// Bytes given piece by piece; Finish gives the digest and starts afresh.
class Md5Stream : public DigestContext {
  public:
    Md5Stream() : DigestContext(Algorithm::Md5) {}
    Md5Digest Finish();
};

class Sha256Stream : public DigestContext {
  public:
    Sha256Stream() : DigestContext(Algorithm::Sha256) {}
    Sha256Digest Finish();
};

Md5Digest Md5Of(std::string_view bytes);
Sha256Digest Sha256Of(std::string_view bytes);

}  // namespace platform
