#include "update/position_key.h"

void ScrambleBuffer(void* data, size_t size, size_t start) {
    auto* bytes = static_cast<uint8_t*>(data);
    for (size_t i = 0; i < size; ++i) bytes[i] ^= PositionKey(static_cast<int32_t>(start + i));
}
