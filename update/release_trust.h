// What a launcher that holds the operator's public key trusts: a published file whose
// detached signature verifies, a download whose size and SHA-256 are those the signed
// patch information gives, and no patch information older than the newest one seen.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "download/body_observer.h"
#include "update/patch_info.h"
#include "update/sha256.h"
#include "update/signature.h"

// A file's detached signature is published beside it under this suffix.
inline constexpr const char* kSignatureSuffix = ".sig";
// A ".sig" file is 128 hex digits and a line end; anything much longer is not one.
inline constexpr int64_t kSignatureMaxBytes = 4096;
// The highest serial of a verified patch-information file, kept in the client folder: a
// replayed older release, validly signed as it is, must not take the client back.
inline constexpr const char* kSeenSerialFile = "release.serial";

// The URL of the signature of the file at `url`: the suffix goes at the end of the path,
// before any query.
std::string SignatureUrl(const std::string& url);

// Whether the ".sig" file at `signaturePath` holds a signature of exactly `data`.
bool SignatureFileVerifies(std::string_view data, std::string_view signaturePath,
                           const PublicKey& key);

// The serial in kSeenSerialFile of the current folder; 0 when none was stored.
uint64_t ReadSeenSerial();
// Replaces the stored serial (written beside it and renamed over it).
bool StoreSeenSerial(uint64_t serial);

// Whether `size` bytes with `digest` are the file that `published` describes; a
// description without both never matches.
bool MatchesPublished(const PublishedFile& published, uint64_t size, const Sha256Digest& digest);

// Digests a download while it is written.
class DigestingObserver : public IBodyObserver {
  public:
    void OnBodyStart() override { stream_.Restart(); }
    void OnBodyData(const char* data, size_t size) override { stream_.Update(data, size); }
    // The digest and length of the body seen since the last start.
    uint64_t bytes() const { return stream_.bytes(); }
    Sha256Digest Finish() { return stream_.Finish(); }

  private:
    Sha256Stream stream_;
};
