#include "axp/format.h"

namespace AXP {

void EncodeHeader(const PackHeader& h, uint8_t out[kHeaderSize]) {
    const uint32_t v[10] = {h.magic,
                            h.version,
                            h.editing,
                            h.hashTableOffset,
                            h.blockTableOffset,
                            h.blockCount,
                            h.blockTableAreaSize,
                            h.dataAreaOffset,
                            h.dataUsed,
                            h.freeBytes};
    for (int i = 0; i < 10; ++i) StoreU32(out + 4 * i, v[i]);
}

PackHeader DecodeHeader(const uint8_t in[kHeaderSize]) {
    PackHeader h;
    h.magic = LoadU32(in);
    h.version = LoadU32(in + 4);
    h.editing = LoadU32(in + 8);
    h.hashTableOffset = LoadU32(in + 12);
    h.blockTableOffset = LoadU32(in + 16);
    h.blockCount = LoadU32(in + 20);
    h.blockTableAreaSize = LoadU32(in + 24);
    h.dataAreaOffset = LoadU32(in + 28);
    h.dataUsed = LoadU32(in + 32);
    h.freeBytes = LoadU32(in + 36);
    return h;
}

void EncodeHashSlot(const HashSlot& s, uint8_t out[kHashSlotSize]) {
    StoreU32(out, s.hashA);
    StoreU32(out + 4, s.hashB);
    StoreU32(out + 8, s.blockRef);
}

HashSlot DecodeHashSlot(const uint8_t in[kHashSlotSize]) {
    return HashSlot{LoadU32(in), LoadU32(in + 4), LoadU32(in + 8)};
}

void EncodeBlockEntry(const BlockEntry& b, uint8_t out[kBlockEntrySize]) {
    StoreU32(out, b.offset);
    StoreU32(out + 4, b.storedSize);
    StoreU32(out + 8, b.unpackedSize);
    StoreU32(out + 12, b.flags);
}

BlockEntry DecodeBlockEntry(const uint8_t in[kBlockEntrySize]) {
    return BlockEntry{LoadU32(in), LoadU32(in + 4), LoadU32(in + 8), LoadU32(in + 12)};
}

}  // namespace AXP
