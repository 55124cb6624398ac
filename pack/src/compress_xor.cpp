#include "axp/compress_xor.h"

#include "axp/error.h"
#include "axp/xor_key.h"

namespace AXP {

bool Compress_XOR::Compress(uint8_t* buffer, uint32_t capacity, uint32_t& length) const {
    if (length > capacity || (buffer == nullptr && length != 0)) {
        SetLastError(kErrInvalidArg);
        return false;
    }
    XorWithKey(buffer, length, 0);
    return true;
}

bool Compress_XOR::Decompress(uint8_t* buffer, uint32_t capacity, uint32_t length,
                              uint32_t position) const {
    if (length == 0) return true;
    if (buffer == nullptr || length > capacity) {
        SetLastError(kErrInvalidArg);
        return false;
    }
    XorWithKey(buffer, length, position);
    return true;
}

}  // namespace AXP
