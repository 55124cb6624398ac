#include "update/signature.h"

#include <sodium.h>

#include "platform/hex_text.h"

namespace {

static_assert(crypto_sign_PUBLICKEYBYTES == 32 && crypto_sign_SECRETKEYBYTES == 64 &&
              crypto_sign_BYTES == 64 && crypto_sign_SEEDBYTES == 32);

// The library sets itself up once per process; a failure there (no entropy source) leaves
// every check false rather than running on an unready library.
bool SodiumReady() {
    static const bool ready = sodium_init() >= 0;
    return ready;
}

// One line end may follow the hex digits of a file.
std::string_view WithoutLineEnd(std::string_view text) {
    if (!text.empty() && text.back() == '\n') text.remove_suffix(1);
    if (!text.empty() && text.back() == '\r') text.remove_suffix(1);
    return text;
}

}  // namespace

bool ParsePublicKeyHex(std::string_view hex, PublicKey& key) {
    return platform::ParseHex(hex, key.bytes.data(), key.bytes.size());
}

std::string PublicKeyHex(const PublicKey& key) {
    return platform::LowerHex(key.bytes.data(), key.bytes.size());
}

bool ParseSignatureFile(std::string_view text, Signature& signature) {
    return platform::ParseHex(WithoutLineEnd(text), signature.bytes.data(), signature.bytes.size());
}

std::string SignatureFileText(const Signature& signature) {
    return platform::LowerHex(signature.bytes.data(), signature.bytes.size()) + "\n";
}

bool VerifySignature(std::string_view message, const Signature& signature, const PublicKey& key) {
    if (!SodiumReady()) return false;
    return crypto_sign_verify_detached(signature.bytes.data(),
                                       reinterpret_cast<const unsigned char*>(message.data()),
                                       message.size(), key.bytes.data()) == 0;
}

bool GenerateKeyPair(SecretKey& secret, PublicKey& key) {
    if (!SodiumReady()) return false;
    return crypto_sign_keypair(key.bytes.data(), secret.bytes.data()) == 0;
}

bool ParseSecretKeyFile(std::string_view text, SecretKey& secret, PublicKey& key) {
    uint8_t seed[crypto_sign_SEEDBYTES];
    if (!SodiumReady() || !platform::ParseHex(WithoutLineEnd(text), seed, sizeof(seed)))
        return false;
    const bool ok = crypto_sign_seed_keypair(key.bytes.data(), secret.bytes.data(), seed) == 0;
    sodium_memzero(seed, sizeof(seed));
    return ok;
}

std::string SecretKeyFileText(const SecretKey& secret) {
    return platform::LowerHex(secret.bytes.data(), crypto_sign_SEEDBYTES) + "\n";
}

Signature SignMessage(std::string_view message, const SecretKey& secret) {
    Signature signature;
    if (SodiumReady())
        crypto_sign_detached(signature.bytes.data(), nullptr,
                             reinterpret_cast<const unsigned char*>(message.data()), message.size(),
                             secret.bytes.data());
    return signature;
}
