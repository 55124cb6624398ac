#include "update/sha256.h"

#include <openssl/evp.h>

#include <new>
#include <vector>

#include "platform/file.h"
#include "platform/native_path.h"
#include "update/hex_text.h"

// OpenSSL's digest uses the processor's SHA instructions where they exist: hashing then
// keeps pace with a local download instead of adding a fifth to an update run.
struct Sha256Stream::State {
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    ~State() { EVP_MD_CTX_free(context); }
};

Sha256Stream::Sha256Stream() : state_(std::make_unique<State>()) {
    if (state_->context == nullptr) throw std::bad_alloc();
    Restart();
}

Sha256Stream::~Sha256Stream() = default;

void Sha256Stream::Restart() {
    EVP_DigestInit_ex(state_->context, EVP_sha256(), nullptr);
    bytes_ = 0;
}

void Sha256Stream::Update(const void* data, size_t size) {
    EVP_DigestUpdate(state_->context, data, size);
    bytes_ += size;
}

Sha256Digest Sha256Stream::Finish() {
    Sha256Digest digest{};
    unsigned int length = 0;
    EVP_DigestFinal_ex(state_->context, digest.data(), &length);
    Restart();
    return digest;
}

Sha256Digest Sha256Of(std::string_view data) {
    Sha256Stream stream;
    stream.Update(data.data(), data.size());
    return stream.Finish();
}

bool Sha256OfFile(std::string_view gbkPath, Sha256Digest& digest, uint64_t& size) {
    std::string native;
    if (!platform::NativePath(gbkPath, native)) return false;
    std::unique_ptr<platform::IFile> file;
    if (platform::PosixFileSystem().Open(native, platform::FileOpenMode::kRead, file) != 0)
        return false;
    Sha256Stream stream;
    std::vector<char> buffer(1 << 20);
    uint64_t offset = 0;
    for (;;) {
        size_t got = 0;
        if (file->ReadAt(offset, buffer.data(), buffer.size(), got) != 0) return false;
        if (got == 0) break;
        stream.Update(buffer.data(), got);
        offset += got;
    }
    size = offset;
    digest = stream.Finish();
    return true;
}

std::string DigestHex(const Sha256Digest& digest) { return HexText(digest.data(), digest.size()); }

bool ParseDigestHex(std::string_view hex, Sha256Digest& digest) {
    return ParseHexExactly(hex, digest.data(), digest.size());
}
