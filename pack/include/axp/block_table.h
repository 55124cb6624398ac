// The block table and its space allocator: the in-memory block entries, the
// free index (ordered multimap from rounded size to block index; among equal sizes the
// earliest registered comes first) and the header's counters they change (block count,
// data used, free bytes). Pure memory: the pack file writes the changed records.
// Not thread safe (the pack's writer is one thread at a time).
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <vector>

#include "axp/format.h"

namespace AXP {

class BlockTable {
  public:
    struct Allocation {
        uint32_t block = 0;           // the block that takes the content
        bool split = false;           // a free remainder entry was appended
        uint32_t remainderBlock = 0;  // its index when split
    };

    // Takes the entries read from a pack and registers every free one (bit 31 clear) in the
    // free index under its rounded stored size.
    void Load(std::vector<BlockEntry> entries);
    void Clear();

    uint32_t Count() const { return static_cast<uint32_t>(entries_.size()); }
    const BlockEntry& At(uint32_t index) const { return entries_[index]; }
    BlockEntry& At(uint32_t index) { return entries_[index]; }
    size_t FreeCount() const { return freeIndex_.size(); }
    // The rounded sizes of all free blocks added up (at most 0xFFFFFFFF): what the
    // header's free-bytes field should say.
    uint32_t FreeBytes() const;

    // Allocates space for `size` bytes, updating header.blockCount,
    // dataUsed and freeBytes. The chosen block gets storedSize = unpackedSize = size and
    // bit 31 (type 0); its reserved flag bits stay as they were. Returns false when it would need a
    // block entry beyond kMaxBlockCount or a data offset beyond 4 GiB (the caller reports error
    // 12); nothing changes then.
    bool Allocate(uint32_t size, PackHeader& header, Allocation& out);

    // Frees a block: clears bit 31, registers it under its rounded stored size and adds
    // that to header.freeBytes. A block already free is left alone.
    void Free(uint32_t index, PackHeader& header);
    // Undoes Free of a block not allocated since (used to roll back a failed replacement).
    void Unfree(uint32_t index, PackHeader& header);

  private:
    std::vector<BlockEntry> entries_;
    std::multimap<uint64_t, uint32_t> freeIndex_;
};

}  // namespace AXP
