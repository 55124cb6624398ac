// The name hash table: 36353 slots, lookup by linear probing from
// position % 36353 and insertion into the first empty slot.
//
// An in-memory index from (hash A, hash B) to the slots in use that carry them answers
// lookups without walking the table (an absent name would otherwise walk all 36353
// slots); where several slots in use carry the same pair, the one the probe would reach
// first wins, so every result equals the full probe walk. Not thread safe for writes; const
// members may be called from several threads at once.
#pragma once

#include <cstdint>
#include <unordered_map>
#include <vector>

#include "axp/format.h"
#include "axp/name_hash.h"

namespace AXP {

class HashTable {
  public:
    HashTable() : slots_(kHashSlotCount) {}

    // Replaces all slots (kHashSlotCount of them) and rebuilds the index.
    void Load(std::vector<HashSlot> slots);
    void Clear();

    const HashSlot& At(uint32_t index) const { return slots_[index]; }
    // Replaces one slot, keeping the index current.
    void Set(uint32_t index, const HashSlot& slot);
    uint32_t UsedCount() const { return used_; }

    // The slot in use that matches, or -1 when the name is absent.
    int64_t Find(const NameHashes& h) const;
    // The full probe walk without the index (for tests and benchmarks): same results as Find.
    int64_t FindByWalk(const NameHashes& h) const;
    // The slot for an insertion: the matching slot, else the first slot not in use from the
    // start slot on; -1 when every slot is in use.
    int64_t FindForInsert(const NameHashes& h) const;

  private:
    static uint64_t Key(uint32_t a, uint32_t b) { return (uint64_t{a} << 32) | b; }
    void IndexAdd(uint32_t index);
    void IndexRemove(uint32_t index);

    std::vector<HashSlot> slots_;
    std::unordered_multimap<uint64_t, uint32_t> index_;
    uint32_t used_ = 0;
};

}  // namespace AXP
