#include "axp/hash_table.h"

namespace AXP {

void HashTable::Load(std::vector<HashSlot> slots) {
    slots_ = std::move(slots);
    slots_.resize(kHashSlotCount);
    index_.clear();
    used_ = 0;
    for (uint32_t i = 0; i < kHashSlotCount; ++i) {
        if (slots_[i].InUse()) IndexAdd(i);
    }
}

void HashTable::Clear() {
    slots_.assign(kHashSlotCount, HashSlot{});
    index_.clear();
    used_ = 0;
}

void HashTable::IndexAdd(uint32_t index) {
    index_.emplace(Key(slots_[index].hashA, slots_[index].hashB), index);
    ++used_;
}

void HashTable::IndexRemove(uint32_t index) {
    auto range = index_.equal_range(Key(slots_[index].hashA, slots_[index].hashB));
    for (auto it = range.first; it != range.second; ++it) {
        if (it->second == index) {
            index_.erase(it);
            --used_;
            return;
        }
    }
}

void HashTable::Set(uint32_t index, const HashSlot& slot) {
    if (slots_[index].InUse()) IndexRemove(index);
    slots_[index] = slot;
    if (slot.InUse()) IndexAdd(index);
}

int64_t HashTable::Find(const NameHashes& h) const {
    // The start slot is the probe's first: when it matches, no other slot can come first.
    const HashSlot& first = slots_[h.position % kHashSlotCount];
    if (first.InUse() && first.hashA == h.hashA && first.hashB == h.hashB) {
        return h.position % kHashSlotCount;
    }
    auto range = index_.equal_range(Key(h.hashA, h.hashB));
    if (range.first == range.second) return -1;
    const uint32_t start = h.position % kHashSlotCount;
    int64_t best = -1;
    uint32_t bestDistance = kHashSlotCount;
    for (auto it = range.first; it != range.second; ++it) {
        uint32_t distance = (it->second + kHashSlotCount - start) % kHashSlotCount;
        if (distance < bestDistance) {
            bestDistance = distance;
            best = it->second;
        }
    }
    return best;
}

int64_t HashTable::FindByWalk(const NameHashes& h) const {
    const uint32_t start = h.position % kHashSlotCount;
    uint32_t i = start;
    do {
        const HashSlot& s = slots_[i];
        if (s.InUse() && s.hashA == h.hashA && s.hashB == h.hashB) return i;
        i = (i + 1) % kHashSlotCount;
    } while (i != start);
    return -1;
}

int64_t HashTable::FindForInsert(const NameHashes& h) const {
    int64_t found = Find(h);
    if (found >= 0) return found;
    if (used_ >= kHashSlotCount) return -1;
    const uint32_t start = h.position % kHashSlotCount;
    uint32_t i = start;
    do {
        if (!slots_[i].InUse()) return i;
        i = (i + 1) % kHashSlotCount;
    } while (i != start);
    return -1;
}

}  // namespace AXP
