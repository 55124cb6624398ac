#include "axp/block_codec.h"

#include <cstring>
#include <memory>
#include <new>

#include "axp/error.h"

namespace AXP {

bool BlockCodec::Decompress(uint8_t* buffer, uint32_t capacity, uint32_t length,
                            uint32_t position) const {
    if (position != 0) {
        SetLastError(kErrInvalidArg);
        return false;
    }
    uint32_t decoded = 0;
    return DecompressEx(buffer, capacity, length, decoded);
}

bool BlockCodec::DecompressEx(uint8_t* buffer, uint32_t capacity, uint32_t length,
                              uint32_t& decodedLength) const {
    decodedLength = 0;
    if (length > capacity || (buffer == nullptr && length != 0)) {
        SetLastError(kErrInvalidArg);
        return false;
    }
    if (length == 0) return true;
    std::unique_ptr<uint8_t[]> input(new (std::nothrow) uint8_t[length]);
    if (!input) {
        SetLastError(kErrNoMemory, "size=%d", static_cast<int>(length));
        return false;
    }
    std::memcpy(input.get(), buffer, length);
    return DecodeBlock(input.get(), length, buffer, capacity, decodedLength);
}

bool BlockCodec::DecodeInto(uint8_t* input, uint32_t length, uint8_t* out, uint32_t capacity,
                            uint32_t& decodedLength) const {
    decodedLength = 0;
    if (length != 0 && (input == nullptr || out == nullptr)) {
        SetLastError(kErrInvalidArg);
        return false;
    }
    if (length == 0) return true;
    return DecodeBlock(input, length, out, capacity, decodedLength);
}

}  // namespace AXP
