#include <gtest/gtest.h>

#include <cstring>

#include "axp/crc.h"
#include "axp/error.h"
#include "axp/pack_file.h"
#include "axp/xor_key.h"
#include "testing/pack_test_util.h"

namespace AXP {
namespace {

using axp_test::RandomBytes;

class StreamTest : public axp_test::TempDirTest {
  protected:
    void SetUp() override {
        TempDirTest::SetUp();
        ASSERT_TRUE(pack_.Create(Path("s.pak")));
    }
    void Add(const std::string& name, const std::string& content) {
        ASSERT_TRUE(pack_.AddFile(content.data(), static_cast<uint32_t>(content.size()), name, true,
                                  false, 0, 0));
    }
    PackFile pack_;
};

TEST_F(StreamTest, ShortEntryReadWithLargeCount) {
    Add("ten", "0123456789");
    IStream* s = pack_.OpenFile("ten");
    ASSERT_NE(s, nullptr);
    char buf[100];
    EXPECT_EQ(s->Read(buf, 100), 10u);
    EXPECT_EQ(std::string(buf, 10), "0123456789");
    EXPECT_EQ(s->Read(buf, 100), 0u);
    EXPECT_TRUE(s->IsEof());
    EXPECT_EQ(s->Read(nullptr, 5), 0u);
    s->Seek(4);
    EXPECT_EQ(s->Read(buf, 3), 3u);
    EXPECT_EQ(std::string(buf, 3), "456");
    EXPECT_EQ(s->Tell(), 7u);
    s->Seek(50);  // not bounded
    EXPECT_EQ(s->Tell(), 50u);
    EXPECT_EQ(s->Read(buf, 1), 0u);
    s->Release();
}

TEST_F(StreamTest, ReadLineWithCrLf) {
    Add("lines", "ab\r\ncd");
    IStream* s = pack_.OpenFile("lines");
    ASSERT_NE(s, nullptr);
    char line[32];
    EXPECT_EQ(s->ReadLine(line, sizeof(line)), 2u);
    EXPECT_STREQ(line, "ab");
    EXPECT_EQ(s->ReadLine(line, sizeof(line)), 2u);
    EXPECT_STREQ(line, "cd");
    EXPECT_TRUE(s->IsEof());
    EXPECT_EQ(s->ReadLine(line, sizeof(line)), 0u);
    s->Release();
}

TEST_F(StreamTest, ReadLineCutsAtCapacityAndSkipLine) {
    Add("long", "abcdefgh\nxy\nlast");
    IStream* s = pack_.OpenFile("long");
    ASSERT_NE(s, nullptr);
    char line[5];
    EXPECT_EQ(s->ReadLine(line, sizeof(line)), 4u);  // capacity includes the NUL
    EXPECT_STREQ(line, "abcd");
    EXPECT_EQ(s->Tell(), 4u);  // inside the line
    s->SkipLine();
    EXPECT_EQ(s->Tell(), 9u);
    EXPECT_EQ(s->ReadLine(nullptr, 100), 2u);  // null buffer skips
    s->SkipLine();
    EXPECT_TRUE(s->IsEof());
    s->Release();
}

TEST_F(StreamTest, ReadLineAcrossChunksAndCrAtAChunkEnd) {
    std::string content(1022, 'x');
    content += "\r\nnext\n";  // CR is the last byte of the first 1023-byte chunk
    Add("chunks", content);
    IStream* s = pack_.OpenFile("chunks");
    ASSERT_NE(s, nullptr);
    std::vector<char> line(4000);
    EXPECT_EQ(s->ReadLine(line.data(), 4000), 1022u);
    EXPECT_EQ(s->ReadLine(line.data(), 4000), 4u);
    EXPECT_STREQ(line.data(), "next");
    s->Release();
}

TEST_F(StreamTest, GetCrcKeepsThePosition) {
    Add("c", "123456789");
    IStream* s = pack_.OpenFile("c");
    ASSERT_NE(s, nullptr);
    s->Seek(3);
    EXPECT_EQ(s->GetCrc(), 0x5FA0DE0Fu);
    EXPECT_EQ(s->Tell(), 3u);
    EXPECT_EQ(s->GetCrc(), 0x5FA0DE0Fu);
    s->Release();
}

TEST_F(StreamTest, LargeXorEntryReadFromTheMiddle) {
    const auto plain = RandomBytes(kPreloadLimit + 1000, 11);
    auto stored = plain;
    XorWithKey(stored.data(), stored.size(), 0);
    ASSERT_TRUE(pack_.AddFile(stored.data(), static_cast<uint32_t>(stored.size()), "big.xor", true,
                              false, 1, static_cast<uint32_t>(plain.size())));
    IStream* s = pack_.OpenFile("big.xor");
    ASSERT_NE(s, nullptr);
    for (uint32_t start : {0u, 1u, 255u, 300001u, static_cast<uint32_t>(plain.size()) - 7}) {
        s->Seek(start);
        std::vector<uint8_t> part(777);
        const uint32_t got = s->Read(part.data(), 777);
        ASSERT_EQ(got, std::min<uint32_t>(777, static_cast<uint32_t>(plain.size()) - start));
        EXPECT_TRUE(std::equal(part.begin(), part.begin() + got, plain.begin() + start));
    }
    EXPECT_EQ(s->GetCrc(), Crc(plain.data(), plain.size()));
    s->Release();
    // The same through a small (preloaded) XOR entry.
    std::vector<uint8_t> small(plain.begin(), plain.begin() + 5000);
    auto smallStored = small;
    XorWithKey(smallStored.data(), smallStored.size(), 0);
    ASSERT_TRUE(pack_.AddFile(smallStored.data(), 5000, "small.xor", true, false, 1, 5000));
    std::vector<uint8_t> back(5000);
    ASSERT_TRUE(pack_.ReadFileData("small.xor", true, back.data(), 5000));
    EXPECT_EQ(back, small);
}

TEST_F(StreamTest, LargeStoredEntryStreamsWithoutPreload) {
    const auto plain = RandomBytes(kPreloadLimit + 10, 12);
    ASSERT_TRUE(pack_.AddFile(plain.data(), static_cast<uint32_t>(plain.size()), "big.raw", true,
                              false, 0, 0));
    IStream* s = pack_.OpenFile("big.raw");
    ASSERT_NE(s, nullptr);
    s->Seek(400000);
    std::vector<uint8_t> part(200000);
    EXPECT_EQ(s->Read(part.data(), 200000), plain.size() - 400000);
    EXPECT_TRUE(std::equal(plain.begin() + 400000, plain.end(), part.begin()));
    s->Release();
}

}  // namespace
}  // namespace AXP
