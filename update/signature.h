// Ed25519 signatures of what a site publishes: a detached signature over a file's exact
// bytes, checked against the operator's public key.
//
// Text forms, so that other tools can produce them: a public key is 64 hex digits (32
// bytes), a ".sig" file 128 hex digits (64 bytes) optionally followed by a line end, a
// secret key file the 32-byte seed as 64 hex digits with an optional line end. Hex is read
// in either case and written in lower case.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

struct PublicKey {
    std::array<uint8_t, 32> bytes{};
};
struct SecretKey {
    std::array<uint8_t, 64> bytes{};  // the seed, then the public key
};
struct Signature {
    std::array<uint8_t, 64> bytes{};
};

bool ParsePublicKeyHex(std::string_view hex, PublicKey& key);
std::string PublicKeyHex(const PublicKey& key);

bool ParseSignatureFile(std::string_view text, Signature& signature);
std::string SignatureFileText(const Signature& signature);

// True only when `signature` was made over exactly `message` with the key's secret half.
bool VerifySignature(std::string_view message, const Signature& signature, const PublicKey& key);

// The operator's side.
bool GenerateKeyPair(SecretKey& secret, PublicKey& key);
bool ParseSecretKeyFile(std::string_view text, SecretKey& secret, PublicKey& key);
std::string SecretKeyFileText(const SecretKey& secret);
Signature SignMessage(std::string_view message, const SecretKey& secret);
