#include <gtest/gtest.h>

#include <random>

#include "axp/block_table.h"
#include "axp/hash_table.h"

namespace AXP {
namespace {

TEST(BlockTable, AppendsRoundedBlocks) {
    BlockTable t;
    PackHeader h;
    BlockTable::Allocation a;
    ASSERT_TRUE(t.Allocate(0, h, a));
    EXPECT_EQ(a.block, 0u);
    EXPECT_EQ(t.At(0).offset, kDataAreaOffset);
    EXPECT_EQ(h.dataUsed, 256u);  // a zero-byte entry takes 256 bytes
    ASSERT_TRUE(t.Allocate(257, h, a));
    EXPECT_EQ(t.At(1).offset, kDataAreaOffset + 256);
    EXPECT_EQ(t.At(1).storedSize, 257u);
    EXPECT_TRUE(t.At(1).InUse());
    EXPECT_EQ(h.dataUsed, 768u);
    EXPECT_EQ(h.blockCount, 2u);
}

TEST(BlockTable, ReusesFreedBlockAndSplitsTheRemainder) {
    BlockTable t;
    PackHeader h;
    BlockTable::Allocation a;
    ASSERT_TRUE(t.Allocate(1000, h, a));
    ASSERT_TRUE(t.Allocate(10, h, a));
    t.Free(0, h);
    EXPECT_EQ(h.freeBytes, 1024u);
    EXPECT_EQ(t.FreeCount(), 1u);
    ASSERT_TRUE(t.Allocate(700, h, a));
    EXPECT_EQ(a.block, 0u);
    ASSERT_TRUE(a.split);
    EXPECT_EQ(a.remainderBlock, 2u);
    EXPECT_EQ(t.At(2).offset, kDataAreaOffset + 768);
    EXPECT_EQ(t.At(2).storedSize, 256u);
    EXPECT_FALSE(t.At(2).InUse());
    EXPECT_EQ(h.freeBytes, 256u);
    EXPECT_EQ(h.blockCount, 3u);
    EXPECT_EQ(h.dataUsed, 1024u + 256u);  // no new space
}

TEST(BlockTable, PicksSmallestFitEarliestFirst) {
    BlockTable t;
    PackHeader h;
    BlockTable::Allocation a;
    for (uint32_t size : {2048u, 512u, 1024u, 512u}) ASSERT_TRUE(t.Allocate(size, h, a));
    t.Free(0, h);
    t.Free(3, h);
    t.Free(1, h);  // two 512 blocks: 3 registered before 1
    ASSERT_TRUE(t.Allocate(300, h, a));
    EXPECT_EQ(a.block, 3u);
    ASSERT_TRUE(t.Allocate(300, h, a));
    EXPECT_EQ(a.block, 1u);
    ASSERT_TRUE(t.Allocate(600, h, a));
    EXPECT_EQ(a.block, 0u);  // 2048 split
    EXPECT_TRUE(a.split);
}

TEST(BlockTable, RefusesA65537thEntry) {
    std::vector<BlockEntry> entries(kMaxBlockCount);
    PackHeader h;
    for (uint32_t i = 0; i < kMaxBlockCount; ++i) {
        entries[i] = BlockEntry{kDataAreaOffset + 256 * i, 1, 1, kBlockInUse};
    }
    entries[5].flags = 0;
    entries[5].storedSize = 256;
    h.blockCount = kMaxBlockCount;
    h.dataUsed = 256 * kMaxBlockCount;
    BlockTable t;
    t.Load(entries);
    BlockTable::Allocation a;
    EXPECT_FALSE(t.Allocate(1000, h, a));  // would append
    // An exact fit needs no new entry.
    ASSERT_TRUE(t.Allocate(0, h, a));
    EXPECT_FALSE(a.split);
    EXPECT_EQ(a.block, 5u);
    EXPECT_EQ(t.Count(), kMaxBlockCount);
}

TEST(BlockTable, RefusesASplitThatNeedsA65537thEntry) {
    std::vector<BlockEntry> entries(kMaxBlockCount);
    for (uint32_t i = 0; i < kMaxBlockCount; ++i) {
        entries[i] = BlockEntry{kDataAreaOffset + 1024 * i, 1024, 1024, kBlockInUse};
    }
    entries[7].flags = 0;
    PackHeader h;
    h.blockCount = kMaxBlockCount;
    h.dataUsed = 1024 * kMaxBlockCount;
    h.freeBytes = 1024;
    BlockTable t;
    t.Load(entries);
    BlockTable::Allocation a;
    EXPECT_FALSE(t.Allocate(10, h, a));
    EXPECT_EQ(h.freeBytes, 1024u);  // unchanged
    EXPECT_EQ(t.FreeCount(), 1u);
}

TEST(BlockTable, UnfreeUndoesFree) {
    BlockTable t;
    PackHeader h;
    BlockTable::Allocation a;
    ASSERT_TRUE(t.Allocate(100, h, a));
    t.Free(0, h);
    t.Unfree(0, h);
    EXPECT_TRUE(t.At(0).InUse());
    EXPECT_EQ(h.freeBytes, 0u);
    EXPECT_EQ(t.FreeCount(), 0u);
}

TEST(HashTable, IndexAgreesWithTheWalk) {
    HashTable t;
    std::mt19937 rng(7);
    std::vector<NameHashes> names;
    for (int i = 0; i < 3000; ++i) {
        NameHashes h{static_cast<uint32_t>(rng() % 50), static_cast<uint32_t>(rng() % 40),
                     static_cast<uint32_t>(rng() % 3)};
        names.push_back(h);
        int64_t slot = t.FindForInsert(h);
        ASSERT_GE(slot, 0);
        // Every few, put a duplicate (A, B) pair elsewhere, as a crafted pack could.
        if (i % 7 == 0) slot = (slot + 11) % kHashSlotCount;
        t.Set(static_cast<uint32_t>(slot), HashSlot{h.hashA, h.hashB, kSlotInUse});
        if (i % 5 == 0) {
            HashSlot s = t.At(static_cast<uint32_t>(slot));
            s.blockRef = 0;
            t.Set(static_cast<uint32_t>(slot), s);
        }
    }
    for (const auto& h : names) EXPECT_EQ(t.Find(h), t.FindByWalk(h));
    for (uint32_t p = 0; p < 100; ++p) {
        NameHashes absent{p * 977, 1000 + p, 5};
        EXPECT_EQ(t.Find(absent), -1);
        EXPECT_EQ(t.FindByWalk(absent), -1);
    }
}

TEST(HashTable, FullTableRefusesInsertion) {
    std::vector<HashSlot> slots(kHashSlotCount, HashSlot{1, 2, kSlotInUse});
    HashTable t;
    t.Load(slots);
    EXPECT_EQ(t.UsedCount(), kHashSlotCount);
    EXPECT_EQ(t.FindForInsert(NameHashes{5, 9, 9}), -1);
    EXPECT_EQ(t.FindForInsert(NameHashes{5, 1, 2}), 5);  // the name itself is found
}

}  // namespace
}  // namespace AXP
