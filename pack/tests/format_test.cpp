#include "axp/format.h"

#include <gtest/gtest.h>

#include <set>

#include "axp/crc.h"
#include "axp/name_hash.h"
#include "axp/xor_key.h"

namespace AXP {
namespace {

TEST(Format, RegionsAreFixed) {
    EXPECT_EQ(kHashTableSize, 436236u);
    EXPECT_EQ(kBlockTableOffset, 436276u);
    EXPECT_EQ(kDataAreaOffset, 1484852u);
}

TEST(Format, Rounding) {
    EXPECT_EQ(RoundSize(0), 256u);
    EXPECT_EQ(RoundSize(1), 256u);
    EXPECT_EQ(RoundSize(256), 256u);
    EXPECT_EQ(RoundSize(257), 512u);
    EXPECT_EQ(RoundSize(1000), 1024u);
    EXPECT_EQ(RoundSize(0xFFFFFFFFu), 0x100000000ull);
}

TEST(Format, HeaderRoundTripsLittleEndian) {
    PackHeader h;
    h.editing = 1;
    h.blockCount = 0x01020304;
    h.dataUsed = 0xA0B0C0D0;
    h.freeBytes = 7;
    uint8_t bytes[kHeaderSize];
    EncodeHeader(h, bytes);
    EXPECT_EQ(bytes[0], 'A');
    EXPECT_EQ(bytes[1], 'X');
    EXPECT_EQ(bytes[2], 'P');
    EXPECT_EQ(bytes[3], 'K');
    EXPECT_EQ(bytes[20], 0x04);
    EXPECT_EQ(bytes[23], 0x01);
    PackHeader d = DecodeHeader(bytes);
    EXPECT_EQ(d.blockCount, h.blockCount);
    EXPECT_EQ(d.dataUsed, h.dataUsed);
    EXPECT_EQ(d.freeBytes, 7u);
    EXPECT_EQ(d.dataAreaOffset, kDataAreaOffset);
}

TEST(NameHash, NormalisesCaseAndSlashes) {
    EXPECT_EQ(NormaliseName("Data\\UI\\Main.TGA"), "data/ui/main.tga");
    EXPECT_EQ(NormaliseName("Data\\A.txt"), NormaliseName("DATA/A.TXT"));
    EXPECT_EQ(NormaliseName("data/a.txt"), NormaliseName("DATA/A.TXT"));
}

TEST(NameHash, KeepsGbkTrailBytes) {
    // 0x81 0x5C: the trail byte is the "\" byte and stays; 0x81 0x41: "A" trail stays.
    EXPECT_EQ(NormaliseName("\x81\x5C\\X"), std::string("\x81\x5C/x"));
    EXPECT_EQ(NormaliseName("\x81\x41"
                            "B"),
              std::string("\x81\x41"
                          "b"));
    // A lead byte at the very end is kept.
    EXPECT_EQ(NormaliseName("A\x81"), std::string("a\x81"));
}

TEST(NameHash, TableMatchesTheGenerator) {
    EXPECT_EQ(HashTableValue(0), 0x55C636E2u);
    EXPECT_EQ(HashTableValue(1), 0x193AA698u);
    EXPECT_EQ(HashTableValue(256), 0x76F8C1B1u);
    EXPECT_EQ(HashTableValue(1023), 0xD51CB931u);
}

TEST(NameHash, KnownValues) {
    // Values computed independently of this library.
    NameHashes h = HashNormalisedName("data/ui/main.tga");
    EXPECT_EQ(h.position, 0xCA0817E6u);
    EXPECT_EQ(h.hashA, 0x98FF87DBu);
    EXPECT_EQ(h.hashB, 0xAE26FDEEu);
    EXPECT_EQ(h.position % kHashSlotCount, 10671u);
    h = HashNormalisedName("(list)");
    EXPECT_EQ(h.position, 0x98D67503u);
    EXPECT_EQ(h.hashA, 0x8EE2C597u);
    EXPECT_EQ(h.hashB, 0x1EC97D8Eu);
    // High bytes read the row below (signed bytes).
    h = HashNormalisedName("\xCA\xFD\xBE\xDD/A.txt");
    EXPECT_EQ(h.position, 0xC80078C3u);
    EXPECT_EQ(h.hashA, 0x63F35103u);
    EXPECT_EQ(h.hashB, 0xAC8DFE53u);
}

TEST(Crc, SwappedTableDiffersFromStandardCrc32) {
    EXPECT_EQ(Crc("123456789", 9), 0x5FA0DE0Fu);  // standard CRC-32 would be 0xCBF43926
    EXPECT_EQ(Crc("", 0), 0u);
    uint8_t all[256];
    for (int i = 0; i < 256; ++i) all[i] = static_cast<uint8_t>(i);
    EXPECT_EQ(Crc(all, 256), 0x5E0D044Eu);
    // Running form equals one call.
    uint32_t s = CrcUpdate(kCrcInit, all, 100);
    s = CrcUpdate(s, all + 100, 156);
    EXPECT_EQ(CrcFinal(s), 0x5E0D044Eu);
    EXPECT_EQ(CrcTableValue(64), 0xEDB88320u);   // standard entry 128
    EXPECT_EQ(CrcTableValue(128), 0x76DC4190u);  // standard entry 64
    EXPECT_EQ(CrcTableValue(1), 0x77073096u);    // unchanged
}

TEST(Crc, EightBytesAtATimeEqualsTheByteLoopAtEveryLengthAndAlignment) {
    uint8_t data[300];
    uint32_t seed = 12345;
    for (uint8_t& b : data) b = static_cast<uint8_t>((seed = seed * 1103515245u + 12345u) >> 16);
    for (size_t offset = 0; offset < 8; ++offset) {
        for (size_t length = 0; length + offset <= sizeof(data); length += 7) {
            EXPECT_EQ(CrcUpdate(kCrcInit, data + offset, length),
                      CrcUpdateBytewise(kCrcInit, data + offset, length))
                << offset << " " << length;
        }
    }
}

TEST(XorKey, DependsOnlyOnPositionMod256AndUsesTheWholeTable) {
    std::set<uint8_t> seen;
    for (uint64_t p = 0; p < 256; ++p) {
        EXPECT_EQ(XorKeyByte(p), XorKeyByte(p + 256));
        EXPECT_EQ(XorKeyByte(p), XorKeyByte(p + 256ull * 1000003));
        seen.insert(XorKeyByte(p));
    }
    EXPECT_EQ(seen.size(), 256u);  // the table is a permutation
    uint8_t data[300] = {};
    XorWithKey(data, sizeof(data), 10);
    EXPECT_EQ(data[0], XorKeyByte(10));
    XorWithKey(data, sizeof(data), 10);
    for (uint8_t b : data) EXPECT_EQ(b, 0);
}

}  // namespace
}  // namespace AXP
