// What a launcher that holds the operator's public key trusts: a published file whose
// detached signature verifies for the role the file plays, a download whose size and
// SHA-256 are those the signed patch information gives, and no patch information or
// server list older than the newest one seen.
// The format, field by field: docs/formats/signature.md
#pragma once

#include <cstdint>
#include <optional>
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
// The same for the server list.
inline constexpr const char* kSeenServerListSerialFile = "serverlist.serial";

// What a signed file is for. The signature covers a fixed context text of its role
// before the file's bytes, so that a file signed for one role is refused in another.
enum class SignedRole { PatchInfo, ServerList, RepairList };

// The context of a role: "quillgate patchinfo", "quillgate server list" or
// "quillgate repair list", each followed by a line feed.
std::string_view SignedContext(SignedRole role);
// Whether the role's ".sig" carries a serial (the server list, whose bytes are the game's
// and have no room for one): a second line holding it in decimal.
bool SignedRoleHasSerial(SignedRole role);
// What is signed for a file of `role`: the context, then for a role with a serial that
// serial in decimal and a line feed, then the file's exact bytes.
std::string SignedBytes(SignedRole role, std::string_view data, uint64_t serial = 0);
// The text of the ".sig" file of `data` in `role`.
std::string SignatureFileFor(SignedRole role, std::string_view data, const SecretKey& secret,
                             uint64_t serial = 0);
// Whether `signatureText` (a ".sig" file) is a signature of `data` in `role`; for a role
// with a serial that serial goes to `serial`.
bool SignatureTextVerifies(SignedRole role, std::string_view data, std::string_view signatureText,
                           const PublicKey& key, uint64_t* serial = nullptr);
// The serial a ".sig" text of a role with a serial carries, unchecked; none when it has
// none.
std::optional<uint64_t> SignatureTextSerial(std::string_view signatureText);

// The URL of the signature of the file at `url`: the suffix goes at the end of the path,
// before any query.
std::string SignatureUrl(const std::string& url);

// SignatureTextVerifies for the ".sig" file at `signaturePath`.
bool SignatureFileVerifies(SignedRole role, std::string_view data, std::string_view signaturePath,
                           const PublicKey& key, uint64_t* serial = nullptr);

// The serial kept in `file` of the current folder; 0 when none was stored.
uint64_t ReadSeenSerial(const char* file = kSeenSerialFile);
// Replaces the stored serial (written beside it and renamed over it).
bool StoreSeenSerial(uint64_t serial, const char* file = kSeenSerialFile);

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
