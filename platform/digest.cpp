#include "platform/digest.h"

#include <openssl/evp.h>

#include <new>

namespace platform {
namespace {

EVP_MD_CTX* Context(void* context) { return static_cast<EVP_MD_CTX*>(context); }

}  // namespace

DigestContext::DigestContext(Algorithm algorithm)
    : algorithm_(algorithm), context_(EVP_MD_CTX_new()) {
    if (context_ == nullptr) throw std::bad_alloc();
    Restart();
}

DigestContext::~DigestContext() { EVP_MD_CTX_free(Context(context_)); }

void DigestContext::Restart() {
    EVP_DigestInit_ex(Context(context_), algorithm_ == Algorithm::Md5 ? EVP_md5() : EVP_sha256(),
                      nullptr);
}

void DigestContext::Update(const void* data, size_t size) {
    EVP_DigestUpdate(Context(context_), data, size);
}

void DigestContext::FinishInto(uint8_t* out) {
    unsigned int length = 0;
    EVP_DigestFinal_ex(Context(context_), out, &length);
    Restart();
}

Md5Digest Md5Stream::Finish() {
    Md5Digest digest{};
    FinishInto(digest.data());
    return digest;
}

Sha256Digest Sha256Stream::Finish() {
    Sha256Digest digest{};
    FinishInto(digest.data());
    return digest;
}

Md5Digest Md5Of(std::string_view bytes) {
    Md5Stream stream;
    stream.Update(bytes.data(), bytes.size());
    return stream.Finish();
}

Sha256Digest Sha256Of(std::string_view bytes) {
    Sha256Stream stream;
    stream.Update(bytes.data(), bytes.size());
    return stream.Finish();
}

}  // namespace platform
