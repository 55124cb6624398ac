#include "axp/pack_file.h"

#include <gtest/gtest.h>

#include <cstring>

#include "axp/crc.h"
#include "axp/error.h"
#include "axp/format.h"
#include "axp/name_hash.h"
#include "platform/file_fault.h"
#include "testing/pack_test_util.h"

namespace AXP {
namespace {

using axp_test::RandomBytes;
using axp_test::ReadFileBytes;
using axp_test::WriteFileBytes;
namespace fs = std::filesystem;

class PackFileTest : public axp_test::TempDirTest {
  protected:
    std::string pak() const { return Path("test.pak"); }

    bool AddMem(PackFile& p, const std::string& name, const std::vector<uint8_t>& data,
                uint8_t type = 0, uint32_t unpacked = 0) {
        return p.AddFile(data.data(), static_cast<uint32_t>(data.size()), name, true, false, type,
                         unpacked);
    }
    std::vector<uint8_t> ReadAll(PackFile& p, const std::string& name) {
        IStream* s = p.OpenFile(name);
        if (!s) return {};
        std::vector<uint8_t> out(s->GetSize());
        EXPECT_EQ(s->Read(out.data(), static_cast<uint32_t>(out.size())), out.size());
        s->Release();
        return out;
    }
    PackHeader FileHeader() {
        auto bytes = ReadFileBytes(pak());
        return DecodeHeader(bytes.data());
    }
    BlockEntry FileBlock(uint32_t i) {
        auto bytes = ReadFileBytes(pak());
        return DecodeBlockEntry(bytes.data() + kBlockTableOffset + 16 * i);
    }
    // Writes the "(list)" catalogue of the given names as the axp tool does.
    void WriteList(PackFile& p, const std::vector<std::string>& names) {
        std::string text = std::to_string(names.size()) + "\r\n";
        for (const auto& n : names) {
            auto data = ReadAll(p, n);
            char line[64];
            std::snprintf(line, sizeof(line), "|%08X|%08X\r\n", static_cast<unsigned>(data.size()),
                          Crc(data.data(), data.size()));
            text += n + line;
        }
        ASSERT_TRUE(p.AddFile(text.data(), static_cast<uint32_t>(text.size()), "(list)", true,
                              false, 0, 0));
    }
};

TEST_F(PackFileTest, NewPackHasTheFixedSizeAndFlagZeroAfterClose) {
    PackFile p;
    ASSERT_TRUE(p.Create(pak()));
    EXPECT_EQ(FileHeader().editing, 1u);
    ASSERT_TRUE(p.Close());
    EXPECT_EQ(fs::file_size(pak()), 1484852u);
    PackHeader h = FileHeader();
    EXPECT_EQ(h.magic, kPackMagic);
    EXPECT_EQ(h.version, kPackVersion);
    EXPECT_EQ(h.editing, 0u);
    EXPECT_EQ(h.blockCount, 0u);
    EXPECT_EQ(h.dataUsed, 0u);
    ASSERT_TRUE(p.Open(pak(), true));
    EXPECT_TRUE(p.IsConstMode());
}

TEST_F(PackFileTest, SameNameVariantsDenoteOneEntry) {
    PackFile p;
    ASSERT_TRUE(p.Create(pak()));
    ASSERT_TRUE(AddMem(p, "Data\\A.txt", {1, 2, 3}));
    EXPECT_TRUE(p.Exists("data/a.txt"));
    EXPECT_TRUE(p.Exists("DATA/A.TXT"));
    ASSERT_TRUE(AddMem(p, "DATA/A.TXT", {4, 5}));
    EXPECT_EQ(ReadAll(p, "data/a.txt"), (std::vector<uint8_t>{4, 5}));
    PackInfo info;
    ASSERT_TRUE(p.GetInfo(info));
    EXPECT_EQ(info.usedSlots, 1u);
    EXPECT_EQ(info.usedBlocks, 1u);
}

TEST_F(PackFileTest, GbkNamesKeepTheirTrailBytes) {
    PackFile p;
    ASSERT_TRUE(p.Create(pak()));
    // "数据\A.TXT" in GBK, and a name whose trail byte is 0x5C ("\") and one with 'A'.
    const std::string n1 = "\xCA\xFD\xBE\xDD\\A.TXT";
    const std::string n2 =
        "\x81\x5C"
        "b";
    const std::string n3 =
        "\x81\x41"
        "x";
    const std::string n4 =
        "\x81\x61"
        "x";  // differs from n3 only in the trail byte's case
    ASSERT_TRUE(AddMem(p, n1, {1}));
    ASSERT_TRUE(AddMem(p, n2, {2}));
    ASSERT_TRUE(AddMem(p, n3, {3}));
    ASSERT_TRUE(AddMem(p, n4, {4}));
    EXPECT_TRUE(p.Exists("\xCA\xFD\xBE\xDD/a.txt"));
    EXPECT_EQ(ReadAll(p, n2), (std::vector<uint8_t>{2}));
    EXPECT_FALSE(p.Exists("\x81/b"));  // the trail byte was not turned into "/"
    EXPECT_EQ(ReadAll(p, n3), (std::vector<uint8_t>{3}));
    EXPECT_EQ(ReadAll(p, n4), (std::vector<uint8_t>{4}));
}

TEST_F(PackFileTest, ZeroByteEntryTakes256Bytes) {
    PackFile p;
    ASSERT_TRUE(p.Create(pak()));
    ASSERT_TRUE(AddMem(p, "empty", {}));
    ASSERT_TRUE(AddMem(p, "next", {9}));
    BlockEntry b;
    ASSERT_TRUE(p.GetBlockEntry("next", b));
    EXPECT_EQ(b.offset, kDataAreaOffset + 256);
    EXPECT_TRUE(p.Exists("empty"));
    EXPECT_EQ(p.GetFileSize("empty", false), 0u);
    IStream* s = p.OpenFile("empty");
    ASSERT_NE(s, nullptr);
    char c;
    EXPECT_EQ(s->Read(&c, 1), 0u);
    EXPECT_TRUE(s->IsEof());
    s->Release();
    ASSERT_TRUE(p.Close());
    EXPECT_EQ(fs::file_size(pak()), 1484852u + 512u);
}

TEST_F(PackFileTest, RemovedBlockIsReusedWithItsRemainder) {
    PackFile p;
    ASSERT_TRUE(p.Create(pak()));
    ASSERT_TRUE(AddMem(p, "big", RandomBytes(1000, 1)));
    ASSERT_TRUE(AddMem(p, "after", RandomBytes(10, 2)));
    ASSERT_TRUE(p.RemoveFile("big", false));
    PackInfo info;
    ASSERT_TRUE(p.GetInfo(info));
    EXPECT_EQ(info.header.freeBytes, 1024u);
    const auto small = RandomBytes(700, 3);
    ASSERT_TRUE(AddMem(p, "small", small));
    BlockEntry b;
    ASSERT_TRUE(p.GetBlockEntry("small", b));
    EXPECT_EQ(b.offset, kDataAreaOffset);
    ASSERT_TRUE(p.Close());
    PackHeader h = FileHeader();
    EXPECT_EQ(h.blockCount, 3u);
    EXPECT_EQ(h.freeBytes, 256u);
    EXPECT_EQ(h.dataUsed, 1024u + 256u);
    BlockEntry rest = FileBlock(2);
    EXPECT_EQ(rest.offset, kDataAreaOffset + 768);
    EXPECT_EQ(rest.storedSize, 256u);
    EXPECT_FALSE(rest.InUse());
    ASSERT_TRUE(p.Open(pak(), true));
    EXPECT_EQ(ReadAll(p, "small"), small);
}

TEST_F(PackFileTest, SameRoundedSizeRewritesInPlace) {
    PackFile p;
    ASSERT_TRUE(p.Create(pak()));
    ASSERT_TRUE(AddMem(p, "a", RandomBytes(300, 1)));
    ASSERT_TRUE(AddMem(p, "b", RandomBytes(300, 2)));
    const auto before = ReadFileBytes(pak());
    const auto replacement = RandomBytes(300, 3);
    ASSERT_TRUE(AddMem(p, "a", replacement));
    auto after = ReadFileBytes(pak());
    // Header, hash and block tables unchanged; only the data moved.
    EXPECT_TRUE(std::equal(before.begin(), before.begin() + kDataAreaOffset, after.begin()));
    EXPECT_EQ(ReadAll(p, "a"), replacement);
    // A different size within the same rounding updates only the block entry.
    ASSERT_TRUE(AddMem(p, "a", RandomBytes(500, 4)));
    BlockEntry b;
    ASSERT_TRUE(p.GetBlockEntry("a", b));
    EXPECT_EQ(b.offset, kDataAreaOffset);
    EXPECT_EQ(b.storedSize, 500u);
    EXPECT_EQ(FileBlock(0).storedSize, 500u);
}

TEST_F(PackFileTest, GrowingEntryMovesAndFreesTheOldBlock) {
    PackFile p;
    ASSERT_TRUE(p.Create(pak()));
    ASSERT_TRUE(AddMem(p, "a", RandomBytes(100, 1)));
    const auto bigger = RandomBytes(5000, 2);
    ASSERT_TRUE(AddMem(p, "a", bigger));
    BlockEntry b;
    ASSERT_TRUE(p.GetBlockEntry("a", b));
    EXPECT_EQ(b.offset, kDataAreaOffset + 256);
    EXPECT_FALSE(FileBlock(0).InUse());
    EXPECT_EQ(FileHeader().freeBytes, 256u);
    EXPECT_EQ(ReadAll(p, "a"), bigger);
}

TEST_F(PackFileTest, EditingFlagAndConstMode) {
    {
        PackFile p;
        ASSERT_TRUE(p.Create(pak()));
        ASSERT_TRUE(AddMem(p, "x", {1}));
        // Simulate a writer that died: copy the file while the flag is set.
        fs::copy_file(pak(), Path("dirty.pak"));
    }
    PackFile p;
    EXPECT_FALSE(p.Open(Path("dirty.pak"), true));
    EXPECT_EQ(GetLastErrorCode(), 7u);
    ASSERT_TRUE(p.Open(Path("dirty.pak"), false));
    EXPECT_EQ(DecodeHeader(ReadFileBytes(Path("dirty.pak")).data()).editing, 1u);
    EXPECT_FALSE(p.CheckConsistency(nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(GetLastErrorCode(), 7u);
    ASSERT_TRUE(p.Close());
    EXPECT_EQ(DecodeHeader(ReadFileBytes(Path("dirty.pak")).data()).editing, 0u);
    ASSERT_TRUE(p.Open(Path("dirty.pak"), true));
    EXPECT_EQ(ReadAll(p, "x"), (std::vector<uint8_t>{1}));
}

TEST_F(PackFileTest, WritesInConstModeFailWithConstMode) {
    {
        PackFile p;
        ASSERT_TRUE(p.Create(pak()));
        ASSERT_TRUE(AddMem(p, "x", {1}));
    }
    PackFile p;
    ASSERT_TRUE(p.Open(pak(), true));
    const auto before = ReadFileBytes(pak());
    EXPECT_FALSE(AddMem(p, "y", {2}));
    EXPECT_EQ(GetLastErrorCode(), 3u);
    EXPECT_EQ(GetLastErrorText(), "Const Mode");
    EXPECT_FALSE(p.RemoveFile("x", false));
    EXPECT_EQ(GetLastErrorCode(), 3u);
    EXPECT_EQ(GetLastErrorText(), "Const Mode");
    EXPECT_EQ(ReadFileBytes(pak()), before);
}

TEST_F(PackFileTest, ErrorsOfTheOperations) {
    PackFile p;
    EXPECT_FALSE(p.Open("", false));
    EXPECT_EQ(GetLastErrorCode(), 10u);
    EXPECT_FALSE(p.Open(Path("missing.pak"), true));
    EXPECT_EQ(GetLastErrorCode(), 3u);
    EXPECT_NE(GetLastErrorText().find("errno=2"), std::string::npos);  // ENOENT
    EXPECT_FALSE(p.Create(""));
    EXPECT_EQ(GetLastErrorCode(), 10u);
    // No pack open.
    EXPECT_FALSE(AddMem(p, "a", {1}));
    EXPECT_EQ(GetLastErrorCode(), 10u);
    EXPECT_EQ(p.OpenFile("a"), nullptr);
    EXPECT_EQ(GetLastErrorCode(), 10u);
    EXPECT_EQ(p.GetFileSize("a", false), 0u);

    ASSERT_TRUE(p.Create(pak()));
    EXPECT_FALSE(p.RemoveFile("Nope\\X", false));
    EXPECT_EQ(GetLastErrorCode(), 1u);
    EXPECT_EQ(GetLastErrorText(), "Nope\\X");
    EXPECT_EQ(p.OpenFile("nope"), nullptr);
    EXPECT_EQ(GetLastErrorCode(), 1u);
    EXPECT_EQ(GetLastErrorText(), "nope");
    EXPECT_FALSE(AddMem(p, "", {1}));
    EXPECT_EQ(GetLastErrorCode(), 10u);
    EXPECT_FALSE(p.AddFile("", 0, "x", false, false, 0, 0));
    EXPECT_EQ(GetLastErrorCode(), 10u);
    const std::string missing = Path("no-such-file");
    EXPECT_FALSE(p.AddFile(missing.c_str(), 0, "x", false, false, 0, 0));
    EXPECT_EQ(GetLastErrorCode(), 1u);
    EXPECT_EQ(GetLastErrorText(), missing);
    EXPECT_EQ(p.GetListFileName(), std::string("(list)"));
    EXPECT_EQ(p.GetFileSize("nope", true), 0u);
    EXPECT_EQ(p.GetCompressType("nope"), 0u);
    // Unknown codec type.
    ASSERT_TRUE(AddMem(p, "weird", {1, 2, 3}, 77, 3));
    EXPECT_EQ(p.GetCompressType("weird"), 77u);
    EXPECT_EQ(p.OpenFile("weird"), nullptr);
    EXPECT_EQ(GetLastErrorCode(), 18u);
    EXPECT_EQ(GetLastErrorText(), "CompressType=77");
}

TEST_F(PackFileTest, VersionMismatchIsRefused) {
    {
        PackFile p;
        ASSERT_TRUE(p.Create(pak()));
    }
    auto bytes = ReadFileBytes(pak());
    StoreU32(bytes.data() + 4, 0x00010000);
    WriteFileBytes(pak(), bytes);
    PackFile p;
    EXPECT_FALSE(p.Open(pak(), false));
    EXPECT_EQ(GetLastErrorCode(), 16u);
    EXPECT_EQ(GetLastErrorText(), "Version=65536, LibVersion=131072");
}

TEST_F(PackFileTest, AddFromDiskFile) {
    const auto data = RandomBytes(10000, 5);
    WriteFileBytes(Path("src.bin"), data);
    PackFile p;
    ASSERT_TRUE(p.Create(pak()));
    const std::string src = Path("src.bin");
    ASSERT_TRUE(p.AddFile(src.c_str(), 0, "src.bin", false, true, 0, 0));
    EXPECT_EQ(p.GetFileSize("src.bin", false), 10000u);
    EXPECT_EQ(ReadAll(p, "src.bin"), data);
    std::vector<uint8_t> raw(10000);
    ASSERT_TRUE(p.ReadFileData("src.bin", false, raw.data(), 10000));
    EXPECT_EQ(raw, data);
    // Raw reads never run past the stored bytes.
    std::vector<uint8_t> more(10001);
    EXPECT_FALSE(p.ReadFileData("src.bin", false, more.data(), 10001));
    EXPECT_EQ(GetLastErrorCode(), 10u);
    EXPECT_FALSE(p.ReadFileData("src.bin", true, more.data(), 10001));
    EXPECT_EQ(GetLastErrorCode(), 4u);
    ASSERT_TRUE(p.ReadFileData("src.bin", true, more.data(), 5000));
    EXPECT_TRUE(std::equal(data.begin(), data.begin() + 5000, more.begin()));
}

TEST_F(PackFileTest, ConsistencyCheckPassesAndReportsEachFault) {
    PackFile p;
    ASSERT_TRUE(p.Create(pak()));
    ASSERT_TRUE(AddMem(p, "a", RandomBytes(100, 1)));
    ASSERT_TRUE(AddMem(p, "b\\c", RandomBytes(3000, 2)));
    WriteList(p, {"a", "b\\c"});
    ASSERT_TRUE(p.Close());
    ASSERT_TRUE(p.Open(pak(), true));
    struct Counts {
        int list = 0, slots = 0, blocks = 0;
    } counts;
    ASSERT_TRUE(p.CheckConsistency(
        &counts, [](void* c, const char*, IStream*) { return ++static_cast<Counts*>(c)->list > 0; },
        [](void* c, uint32_t, uint32_t) { return ++static_cast<Counts*>(c)->slots > 0; },
        [](void* c, uint32_t, uint32_t, uint32_t) {
            return ++static_cast<Counts*>(c)->blocks > 0;
        }))
        << GetLastErrorText();
    EXPECT_EQ(counts.list, 3);  // "(list)" and the two entries
    EXPECT_EQ(counts.slots, 3);
    EXPECT_EQ(counts.blocks, 3);
    // A callback returning false stops the check.
    EXPECT_FALSE(p.CheckConsistency(
        nullptr, [](void*, const char*, IStream*) { return false; }, nullptr, nullptr));

    // An unlisted entry.
    ASSERT_TRUE(p.Open(pak(), false));
    ASSERT_TRUE(AddMem(p, "extra", {1}));
    ASSERT_TRUE(p.Close());
    ASSERT_TRUE(p.Open(pak(), true));
    EXPECT_FALSE(p.CheckConsistency(nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(GetLastErrorCode(), 2u);
    EXPECT_EQ(GetLastErrorText().rfind("unref hashnode(", 0), 0u);

    // A changed entry.
    ASSERT_TRUE(p.Open(pak(), false));
    ASSERT_TRUE(p.RemoveFile("extra", false));
    ASSERT_TRUE(AddMem(p, "a", RandomBytes(100, 9)));
    ASSERT_TRUE(p.Close());
    ASSERT_TRUE(p.Open(pak(), true));
    EXPECT_FALSE(p.CheckConsistency(nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(GetLastErrorCode(), 2u);
    EXPECT_EQ(GetLastErrorText().rfind("file=a, crcdif(", 0), 0u);

    // Size difference, bad line, count difference, missing list.
    auto check = [&](const std::string& list) {
        EXPECT_TRUE(p.Open(pak(), false));
        EXPECT_TRUE(p.AddFile(list.data(), static_cast<uint32_t>(list.size()), "(list)", true,
                              false, 0, 0));
        EXPECT_TRUE(p.Close());
        EXPECT_TRUE(p.Open(pak(), true));
        EXPECT_FALSE(p.CheckConsistency(nullptr, nullptr, nullptr, nullptr));
        return GetLastErrorText();
    };
    EXPECT_EQ(check("1\r\na|00000065|00000000\r\n"), "file=a, sizedif(100!=101)");
    EXPECT_EQ(check("1\r\na|1\r\n"), "list file=a|1");
    EXPECT_EQ(check("2\r\n\r\na|1|2\r\n"), "list file second line=0");
    EXPECT_EQ(GetLastErrorCode(), 2u);
    std::string dataA;
    {
        auto a = ReadAll(p, "a");
        char line[64];
        std::snprintf(line, sizeof(line), "a|%08X|%08X\r\n", 100u, Crc(a.data(), a.size()));
        dataA = line;
    }
    EXPECT_EQ(check("3\r\n" + dataA), "file countdif(1!=3)");
    EXPECT_EQ(check("1\r\nmissing|00000001|00000000\r\n"), "missing");
    EXPECT_EQ(GetLastErrorCode(), 1u);
}

TEST_F(PackFileTest, CheckConsistencyNeedsAListFile) {
    PackFile p;
    ASSERT_TRUE(p.Create(pak()));
    ASSERT_TRUE(p.Close());
    ASSERT_TRUE(p.Open(pak(), true));
    EXPECT_FALSE(p.CheckConsistency(nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(GetLastErrorCode(), 1u);
}

TEST_F(PackFileTest, CloseReleasesOpenStreams) {
    PackFile p;
    ASSERT_TRUE(p.Create(pak()));
    ASSERT_TRUE(AddMem(p, "a", RandomBytes(100, 1)));
    ASSERT_NE(p.OpenFile("a"), nullptr);
    ASSERT_NE(p.OpenFile("a"), nullptr);
    EXPECT_TRUE(p.Close());  // LeakSanitizer would report streams left behind
    EXPECT_FALSE(p.IsOpen());
    EXPECT_TRUE(p.IsConstMode());
}

// ---- Corrupt packs are refused at Open (sound behaviour). ----

class CorruptPackTest : public PackFileTest {
  protected:
    void SetUp() override {
        PackFileTest::SetUp();
        PackFile p;
        ASSERT_TRUE(p.Create(pak()));
        ASSERT_TRUE(AddMem(p, "a", RandomBytes(1000, 1)));
        ASSERT_TRUE(AddMem(p, "b", RandomBytes(10, 2)));
        ASSERT_TRUE(p.Close());
        bytes_ = ReadFileBytes(pak());
    }
    void ExpectRefused() {
        WriteFileBytes(pak(), bytes_);
        for (bool constMode : {true, false}) {
            PackFile p;
            EXPECT_FALSE(p.Open(pak(), constMode));
            EXPECT_EQ(GetLastErrorCode(), 2u);
        }
    }
    uint8_t* Block(uint32_t i) { return bytes_.data() + kBlockTableOffset + 16 * i; }
    std::vector<uint8_t> bytes_;
};

TEST_F(CorruptPackTest, BlockOffsetBeyondTheFile) {
    StoreU32(Block(1), 0x7FFFFFF0);
    ExpectRefused();
}

TEST_F(CorruptPackTest, BlockSizeBeyondTheFile) {
    StoreU32(Block(0) + 4, 0x10000000);
    ExpectRefused();
}

TEST_F(CorruptPackTest, BlockBeforeTheDataArea) {
    StoreU32(Block(0), 100);
    ExpectRefused();
}

TEST_F(CorruptPackTest, BlockBeyondTheDataUsed) {
    StoreU32(bytes_.data() + 32, 256);  // data used smaller than the blocks
    ExpectRefused();
}

TEST_F(CorruptPackTest, DataUsedBeyondTheFile) {
    StoreU32(bytes_.data() + 32, 0x7FFF0000);  // the next block would land 2 GiB out
    ExpectRefused();
}

TEST_F(CorruptPackTest, SlotBlockIndexAtTheBlockCount) {
    const NameHashes h = HashNormalisedName("a");
    for (uint32_t i = 0; i < kHashSlotCount; ++i) {
        uint8_t* s = bytes_.data() + kHashTableOffset + 12 * i;
        if (LoadU32(s) == h.hashA && LoadU32(s + 4) == h.hashB) StoreU32(s + 8, kSlotInUse | 2);
    }
    ExpectRefused();
}

TEST_F(CorruptPackTest, BlockCountLargerThanTheArea) {
    StoreU32(bytes_.data() + 20, 65537);
    ExpectRefused();
}

TEST_F(CorruptPackTest, MovedRegionsAndBadMagic) {
    StoreU32(bytes_.data() + 16, 40);
    ExpectRefused();
    bytes_ = ReadFileBytes(pak());
    SetUp();
    bytes_[0] = 'Z';
    ExpectRefused();
}

TEST_F(CorruptPackTest, TruncatedFile) {
    bytes_.resize(kDataAreaOffset - 1);
    ExpectRefused();
    bytes_.resize(20);
    WriteFileBytes(pak(), bytes_);
    PackFile p;
    EXPECT_FALSE(p.Open(pak(), true));
    EXPECT_EQ(GetLastErrorCode(), 4u);
}

TEST_F(CorruptPackTest, SameLengthEntryClaimingMoreThanItStores) {
    StoreU32(Block(1) + 8, 5000);  // type 0, unpacked 5000 > stored 10
    WriteFileBytes(pak(), bytes_);
    PackFile p;
    ASSERT_TRUE(p.Open(pak(), true));
    EXPECT_EQ(p.OpenFile("b"), nullptr);
    EXPECT_EQ(GetLastErrorCode(), 2u);
}

// ---- Failure injection through the platform file layer. ----

// A full disk (ENOSPC, EDQUOT) is error 12 naming the errno, so that the user is told to
// free space; any other write failure stays error 5.
TEST_F(PackFileTest, FailedWriteReportsItsCauseAndLeavesAReadablePack) {
    struct Case {
        int error;
        uint32_t code;
        std::string text;
    } cases[] = {{5 /* EIO */, 5, "errno=5"},
                 {28 /* ENOSPC */, 12, "File=" + pak() + ", disk full (errno=28)"},
                 {122 /* EDQUOT */, 12, "File=" + pak() + ", disk full (errno=122)"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.error);
        platform::FaultInjectingFileSystem faults;
        PackFile p(&faults);
        ASSERT_TRUE(p.Create(pak()));
        ASSERT_TRUE(AddMem(p, "a", RandomBytes(100, 1)));
        // The writes of a new entry: content, padding, block entry, hash slot, header.
        faults.FailWriteNumber(3, c.error);
        EXPECT_FALSE(AddMem(p, "b", RandomBytes(100, 2)));
        EXPECT_EQ(GetLastErrorCode(), c.code);
        EXPECT_EQ(GetLastErrorText(), c.text);
        faults.FailWriteNumber(0);
        ASSERT_TRUE(p.Close());
        PackFile r;
        ASSERT_TRUE(r.Open(pak(), true));
        EXPECT_TRUE(r.Exists("a"));
        EXPECT_FALSE(r.Exists("b"));  // its hash slot was never written
    }
}

// Bits this library does not use (bit 30 of a slot's block reference, bits 8-30 of a block
// entry's flags) survive a rewrite in place, a move to a new block and a slot taken again.
TEST_F(CorruptPackTest, ReservedBitsAreKeptAsRead) {
    // The slots of "a" (block 0) and "b" (block 1).
    uint8_t* slotOf[2] = {nullptr, nullptr};
    for (uint32_t i = 0; i < kHashSlotCount; ++i) {
        uint8_t* slot = bytes_.data() + kHashTableOffset + kHashSlotSize * i;
        const uint32_t ref = LoadU32(slot + 8);
        if ((ref & kSlotInUse) != 0 && (ref & kSlotBlockMask) < 2)
            slotOf[ref & kSlotBlockMask] = slot;
    }
    ASSERT_TRUE(slotOf[0] != nullptr && slotOf[1] != nullptr);
    for (int i = 0; i < 2; ++i) {
        StoreU32(slotOf[i] + 8, LoadU32(slotOf[i] + 8) | kSlotPreservedBit);
        StoreU32(Block(i) + 12, LoadU32(Block(i) + 12) | (0x00AB0000u << i));
    }
    WriteFileBytes(pak(), bytes_);
    {
        PackFile p;
        ASSERT_TRUE(p.Open(pak(), false));
        ASSERT_TRUE(AddMem(p, "a", RandomBytes(1010, 3)));  // same rounded size: in place
        ASSERT_TRUE(p.RemoveFile("b", true));
        ASSERT_TRUE(AddMem(p, "b", RandomBytes(20, 4)));  // the same slot and block again
        ASSERT_TRUE(p.Close());
    }
    const auto after = ReadFileBytes(pak());
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        const size_t slot = static_cast<size_t>(slotOf[i] - bytes_.data());
        EXPECT_EQ(LoadU32(after.data() + slot + 8), kSlotInUse | kSlotPreservedBit | i);
        EXPECT_EQ(LoadU32(after.data() + kBlockTableOffset + 16 * i + 12),
                  kBlockInUse | (0x00AB0000u << i));
    }
    PackFile r;
    ASSERT_TRUE(r.Open(pak(), true));
    std::vector<uint8_t> b(20);
    ASSERT_TRUE(r.ReadFileData("b", true, b.data(), 20));
    EXPECT_EQ(b, RandomBytes(20, 4));
}

TEST_F(PackFileTest, KilledWriterLeavesTheEditingFlagSet) {
    platform::FaultInjectingFileSystem faults;
    {
        PackFile p(&faults);
        ASSERT_TRUE(p.Create(pak()));
        ASSERT_TRUE(AddMem(p, "a", RandomBytes(100, 1)));
        faults.FailWriteNumber(1, 5, /*kill=*/true);
        EXPECT_FALSE(AddMem(p, "b", RandomBytes(100, 2)));
        EXPECT_FALSE(p.Close());
    }
    EXPECT_TRUE(faults.killed());
    PackFile r;
    EXPECT_FALSE(r.Open(pak(), true));
    EXPECT_EQ(GetLastErrorCode(), 7u);
    ASSERT_TRUE(r.Open(pak(), false));
    EXPECT_TRUE(r.Exists("a"));
    EXPECT_FALSE(r.Exists("b"));
    ASSERT_TRUE(r.Close());
    ASSERT_TRUE(r.Open(pak(), true));
}

TEST_F(PackFileTest, FailedOpenAndReadReportTheirCodes) {
    {
        PackFile p;
        ASSERT_TRUE(p.Create(pak()));
        ASSERT_TRUE(AddMem(p, "a", RandomBytes(100, 1)));
    }
    platform::FaultInjectingFileSystem faults;
    PackFile p(&faults);
    faults.FailOpens(13 /* EACCES */);
    EXPECT_FALSE(p.Open(pak(), true));
    EXPECT_EQ(GetLastErrorCode(), 3u);
    EXPECT_EQ(GetLastErrorText(), "File=" + pak() + ", errno=13");
    faults.FailOpens(0);
    ASSERT_TRUE(p.Open(pak(), true));
    faults.FailReadNumber(1);
    EXPECT_EQ(p.OpenFile("a"), nullptr);
    EXPECT_EQ(GetLastErrorCode(), 4u);
    EXPECT_EQ(GetLastErrorText(), "errno=5");
    EXPECT_NE(p.OpenFile("a"), nullptr);
}

}  // namespace
}  // namespace AXP
