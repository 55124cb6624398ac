// The pack file's bytes on disk: fixed regions, the 40-byte header, the 12-byte
// hash slots, the 16-byte block entries and the 256-byte rounding rule. All integers are
// little-endian u32. Pure data and functions: no state, thread safe.
// The format, field by field: docs/formats/pack.md
#pragma once

#include <cstdint>

namespace AXP {

inline constexpr uint32_t kPackMagic = 0x4B505841;  // "AXPK"
inline constexpr uint32_t kPackVersion = 0x00020000;

inline constexpr uint32_t kHeaderSize = 40;
inline constexpr uint32_t kHashSlotCount = 36353;  // prime
inline constexpr uint32_t kHashSlotSize = 12;
inline constexpr uint32_t kBlockEntrySize = 16;
inline constexpr uint32_t kMaxBlockCount = 65536;
inline constexpr uint32_t kHashTableOffset = kHeaderSize;                             // 40
inline constexpr uint32_t kHashTableSize = kHashSlotCount * kHashSlotSize;            // 436236
inline constexpr uint32_t kBlockTableOffset = kHashTableOffset + kHashTableSize;      // 436276
inline constexpr uint32_t kBlockTableAreaSize = kMaxBlockCount * kBlockEntrySize;     // 1048576
inline constexpr uint32_t kDataAreaOffset = kBlockTableOffset + kBlockTableAreaSize;  // 1484852
inline constexpr uint32_t kEmptyPackSize = kDataAreaOffset;

// Hash slot block reference bits.
inline constexpr uint32_t kSlotInUse = 0x80000000u;
inline constexpr uint32_t kSlotPreservedBit = 0x40000000u;  // kept as read, never set
inline constexpr uint32_t kSlotBlockMask = 0x3FFFFFFFu;
// Block entry flag bits.
inline constexpr uint32_t kBlockInUse = 0x80000000u;
inline constexpr uint32_t kBlockTypeMask = 0xFFu;
inline constexpr uint32_t kBlockReservedMask = ~(kBlockInUse | kBlockTypeMask);  // kept as read

inline constexpr char kListFileName[] = "(list)";
inline constexpr uint32_t kMaxListLine = 1039;

struct PackHeader {
    uint32_t magic = kPackMagic;
    uint32_t version = kPackVersion;
    uint32_t editing = 0;
    uint32_t hashTableOffset = kHashTableOffset;
    uint32_t blockTableOffset = kBlockTableOffset;
    uint32_t blockCount = 0;
    uint32_t blockTableAreaSize = kBlockTableAreaSize;
    uint32_t dataAreaOffset = kDataAreaOffset;
    uint32_t dataUsed = 0;
    uint32_t freeBytes = 0;
};

struct HashSlot {
    uint32_t hashA = 0;
    uint32_t hashB = 0;
    uint32_t blockRef = 0;  // kSlotInUse | block index

    bool InUse() const { return (blockRef & kSlotInUse) != 0; }
    uint32_t BlockIndex() const { return blockRef & kSlotBlockMask; }
};

struct BlockEntry {
    uint32_t offset = 0;
    uint32_t storedSize = 0;
    uint32_t unpackedSize = 0;
    uint32_t flags = 0;  // type in bits 0-7, kBlockInUse

    bool InUse() const { return (flags & kBlockInUse) != 0; }
    uint8_t Type() const { return static_cast<uint8_t>(flags & kBlockTypeMask); }
};

// The rounding rule: a non-zero multiple of 256 stays, anything else (0 included) goes up
// to the next multiple of 256. Computed in 64 bits: round(0xFFFFFF01) is 2^32.
constexpr uint64_t RoundSize(uint64_t n) { return n == 0 ? 256 : (n + 255) / 256 * 256; }

inline uint32_t LoadU32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}
inline void StoreU32(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}

void EncodeHeader(const PackHeader& h, uint8_t out[kHeaderSize]);
PackHeader DecodeHeader(const uint8_t in[kHeaderSize]);
void EncodeHashSlot(const HashSlot& s, uint8_t out[kHashSlotSize]);
HashSlot DecodeHashSlot(const uint8_t in[kHashSlotSize]);
void EncodeBlockEntry(const BlockEntry& b, uint8_t out[kBlockEntrySize]);
BlockEntry DecodeBlockEntry(const uint8_t in[kBlockEntrySize]);

}  // namespace AXP
