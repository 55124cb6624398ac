#include "axp/block_table.h"

namespace AXP {

void BlockTable::Load(std::vector<BlockEntry> entries) {
    entries_ = std::move(entries);
    freeIndex_.clear();
    for (uint32_t i = 0; i < entries_.size(); ++i) {
        if (!entries_[i].InUse()) freeIndex_.emplace(RoundSize(entries_[i].storedSize), i);
    }
}

uint32_t BlockTable::FreeBytes() const {
    uint64_t total = 0;
    for (const auto& [rounded, index] : freeIndex_) total += rounded;
    return total > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<uint32_t>(total);
}

void BlockTable::Clear() {
    entries_.clear();
    freeIndex_.clear();
}

bool BlockTable::Allocate(uint32_t size, PackHeader& header, Allocation& out) {
    const uint64_t rounded = RoundSize(size);
    auto it = freeIndex_.lower_bound(rounded);  // smallest fitting size, earliest registered
    if (it != freeIndex_.end()) {
        const uint64_t found = it->first;
        const uint32_t index = it->second;
        const bool split = found > rounded;
        if (split && entries_.size() >= kMaxBlockCount) return false;
        freeIndex_.erase(it);
        header.freeBytes -= static_cast<uint32_t>(found);
        out = Allocation{index, split, 0};
        BlockEntry& b = entries_[index];
        if (split) {
            const uint32_t rest = static_cast<uint32_t>(found - rounded);
            BlockEntry remainder{static_cast<uint32_t>(b.offset + rounded), rest, rest, 0};
            out.remainderBlock = static_cast<uint32_t>(entries_.size());
            entries_.push_back(remainder);
            header.blockCount = Count();
            freeIndex_.emplace(rest, out.remainderBlock);
            header.freeBytes += rest;
        }
        BlockEntry& taken = entries_[index];
        taken.storedSize = size;
        taken.unpackedSize = size;
        taken.flags = (taken.flags & kBlockReservedMask) | kBlockInUse;
        return true;
    }
    if (entries_.size() >= kMaxBlockCount) return false;
    const uint64_t offset = uint64_t{header.dataAreaOffset} + header.dataUsed;
    if (offset + rounded > 0xFFFFFFFFull) return false;
    out = Allocation{Count(), false, 0};
    entries_.push_back(BlockEntry{static_cast<uint32_t>(offset), size, size, kBlockInUse});
    header.blockCount = Count();
    header.dataUsed += static_cast<uint32_t>(rounded);
    return true;
}

void BlockTable::Free(uint32_t index, PackHeader& header) {
    BlockEntry& b = entries_[index];
    if (!b.InUse()) return;
    b.flags &= ~kBlockInUse;
    const uint64_t rounded = RoundSize(b.storedSize);
    freeIndex_.emplace(rounded, index);
    header.freeBytes += static_cast<uint32_t>(rounded);
}

void BlockTable::Unfree(uint32_t index, PackHeader& header) {
    BlockEntry& b = entries_[index];
    if (b.InUse()) return;
    const uint64_t rounded = RoundSize(b.storedSize);
    auto range = freeIndex_.equal_range(rounded);
    for (auto it = range.first; it != range.second; ++it) {
        if (it->second == index) {
            freeIndex_.erase(it);
            b.flags |= kBlockInUse;
            header.freeBytes -= static_cast<uint32_t>(rounded);
            return;
        }
    }
}

}  // namespace AXP
