#include "axp/block_codec.h"

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
    return DecodeBlock(buffer, capacity, length, decodedLength);
}

}  // namespace AXP
