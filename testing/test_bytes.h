// Test support: file contents that no two tests share by accident, and their MD5 as the
// engine and the lookup write it.
#pragma once

#include <openssl/evp.h>

#include <random>
#include <string>

namespace testing_support {

// `size` bytes drawn from a generator seeded with `seed`: the same seed, the same bytes.
inline std::string RandomBytes(size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string data(size, '\0');
    for (char& c : data) c = static_cast<char>(random());
    return data;
}

// The MD5 of `data` in lower-case hex.
inline std::string Md5Hex(const std::string& data) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(data.data(), data.size(), digest, &length, EVP_md5(), nullptr);
    std::string hex;
    for (unsigned int i = 0; i < length; ++i) {
        hex += "0123456789abcdef"[digest[i] >> 4];
        hex += "0123456789abcdef"[digest[i] & 15];
    }
    return hex;
}

}  // namespace testing_support
