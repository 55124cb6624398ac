#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>

#include "axp/block_codec.h"
#include "axp/compress.h"
#include "axp/compress_lzma.h"
#include "axp/compress_lzo.h"
#include "axp/compress_xor.h"
#include "axp/crc.h"
#include "axp/error.h"
#include "axp/format.h"
#include "axp/pack_file.h"
#include "axp/xor_key.h"
#include "testing/pack_test_util.h"

namespace AXP {
namespace {

using axp_test::RandomBytes;
using axp_test::TextBytes;

std::vector<uint8_t> Encode(const ICompress& c, const std::vector<uint8_t>& in) {
    std::vector<uint8_t> buf(
        std::max<size_t>(c.GetMaxCompressedSize(static_cast<uint32_t>(in.size())), 1));
    if (!in.empty()) std::memcpy(buf.data(), in.data(), in.size());
    uint32_t len = static_cast<uint32_t>(in.size());
    EXPECT_TRUE(c.Compress(buf.data(), static_cast<uint32_t>(buf.size()), len))
        << GetLastErrorText();
    buf.resize(len);
    return buf;
}

std::vector<uint8_t> Decode(const ICompress& c, std::vector<uint8_t> stored, uint32_t size) {
    std::vector<uint8_t> buf(std::max<size_t>(stored.size(), size) + 4);
    if (!stored.empty()) std::memcpy(buf.data(), stored.data(), stored.size());
    EXPECT_TRUE(c.Decompress(buf.data(), static_cast<uint32_t>(buf.size()),
                             static_cast<uint32_t>(stored.size()), 0))
        << GetLastErrorText();
    buf.resize(size);
    return buf;
}

TEST(Codecs, RoundTripEachCodecAtManySizes) {
    ICompressMgr& m = GetCompressManager();
    for (uint8_t type : {1, 2, 3}) {
        ICompress* c = m.GetByType(type);
        ASSERT_NE(c, nullptr);
        for (size_t n : {0, 1, 2, 3, 4, 5, 13, 255, 256, 257, 4096, 70000}) {
            for (bool text : {false, true}) {
                auto in = text ? TextBytes(n, static_cast<uint32_t>(n))
                               : RandomBytes(n, static_cast<uint32_t>(n));
                auto stored = Encode(*c, in);
                EXPECT_EQ(Decode(*c, stored, static_cast<uint32_t>(n)), in)
                    << "type " << int(type) << " size " << n;
            }
        }
    }
}

TEST(Codecs, CompressibleInputShrinks) {
    auto in = TextBytes(100000, 3);
    EXPECT_LT(Encode(Compress_LZO(), in).size(), in.size() / 2);
    EXPECT_LT(Encode(Compress_LZMA(), in).size(), in.size() / 2);
}

TEST(Codecs, ManagerRegistryAndErrors) {
    ICompressMgr& m = GetCompressManager();
    ASSERT_GE(m.GetCount(), 3u);
    EXPECT_EQ(m.GetByIndex(0)->GetType(), 1);
    EXPECT_EQ(m.GetByIndex(1)->GetType(), 2);
    EXPECT_EQ(m.GetByIndex(2)->GetType(), 3);
    EXPECT_TRUE(m.GetByIndex(0)->CanStream());
    EXPECT_FALSE(m.GetByIndex(1)->CanStream());
    EXPECT_EQ(m.GetByIndex(99), nullptr);
    EXPECT_EQ(GetLastErrorCode(), 10u);
    EXPECT_EQ(m.GetByType(0), nullptr);
    EXPECT_EQ(GetLastErrorCode(), 10u);
    static Compress_LZO another;
    EXPECT_FALSE(m.Register(&another));
    EXPECT_EQ(GetLastErrorCode(), 17u);
    EXPECT_EQ(GetLastErrorText(), "compresType=2");
    EXPECT_FALSE(m.Register(nullptr));
    EXPECT_EQ(GetLastErrorCode(), 10u);
}

TEST(Codecs, MaxCompressedSizes) {
    EXPECT_EQ(Compress_XOR().GetMaxCompressedSize(1000), 1000u);
    EXPECT_EQ(Compress_LZO().GetMaxCompressedSize(1000), 1132u);   // 1000+62+67 = 1129, to 4
    EXPECT_EQ(Compress_LZMA().GetMaxCompressedSize(1000), 1192u);  // 1000+62+128 = 1190, to 4
    EXPECT_EQ(Compress_LZMA().GetMaxCompressedSize(100000000), 106250128u);
}

TEST(Codecs, LzoCapacityAndPositionErrors) {
    Compress_LZO lzo;
    uint8_t buf[100] = {};
    uint32_t len = 50;
    EXPECT_FALSE(lzo.Compress(buf, 100, len));
    EXPECT_EQ(GetLastErrorCode(), 9u);
    EXPECT_EQ(GetLastErrorText(), "LZO compress=" + std::to_string(lzo.GetMaxCompressedSize(50)));
    EXPECT_FALSE(lzo.Decompress(buf, 100, 10, 5));
    EXPECT_EQ(GetLastErrorCode(), 10u);
    EXPECT_FALSE(lzo.Decompress(buf, 10, 11, 0));
    EXPECT_EQ(GetLastErrorCode(), 10u);
    EXPECT_TRUE(lzo.Decompress(buf, 10, 0, 0));
    // Garbage fails with a codec error, and output never passes the capacity.
    auto garbage = RandomBytes(64, 9);
    std::vector<uint8_t> g(garbage);
    g.resize(80);
    EXPECT_FALSE(lzo.Decompress(g.data(), 80, 64, 0));
    EXPECT_EQ(GetLastErrorCode(), 19u);
    EXPECT_EQ(GetLastErrorText().rfind("lzo_err=", 0), 0u);
    // A valid stream whose output exceeds the capacity is refused.
    auto in = TextBytes(5000, 1);
    auto stored = Encode(lzo, in);
    std::vector<uint8_t> small(stored);
    small.resize(std::max<size_t>(stored.size(), 4000));
    EXPECT_FALSE(lzo.Decompress(small.data(), static_cast<uint32_t>(small.size()),
                                static_cast<uint32_t>(stored.size()), 0));
    EXPECT_EQ(GetLastErrorCode(), 19u);
}

TEST(Codecs, LzoOutputIsMaskedWordWise) {
    // Masking a 7-byte output masks bytes 4-6 with the low three mask bytes.
    uint8_t data[7] = {};
    ApplyWordMask(data, 7, kLzoWordMask);
    const uint8_t expect[7] = {0x61, 0x9E, 0x3C, 0x5A, 0x61, 0x9E, 0x3C};
    EXPECT_EQ(std::memcmp(data, expect, 7), 0);
    // An LZO stream starts, unmasked, the way lzo1x does: compare with the raw library
    // output by unmasking.
    auto in = TextBytes(3000, 2);
    auto stored = Encode(Compress_LZO(), in);
    ApplyWordMask(stored.data(), static_cast<uint32_t>(stored.size()), kLzoWordMask);
    // The last three bytes of every LZO1X stream are the end marker 0x11 0x00 0x00.
    ASSERT_GE(stored.size(), 3u);
    EXPECT_EQ(stored[stored.size() - 3], 0x11);
    EXPECT_EQ(stored[stored.size() - 2], 0x00);
    EXPECT_EQ(stored[stored.size() - 1], 0x00);
}

TEST(Codecs, WordMaskMatchesTheByteRuleAtEverySizeAndAlignment) {
    // The mask is applied eight bytes at a time; every size and start alignment must give
    // byte i XOR mask byte (i mod 4), and nothing outside the range may change.
    const auto original = RandomBytes(64, 3);
    for (uint32_t mask : {kLzoWordMask, kLzmaWordMask}) {
        for (uint32_t offset = 0; offset < 8; ++offset) {
            for (uint32_t size = 0; size + offset <= 48; ++size) {
                auto data = original;
                ApplyWordMask(data.data() + offset, size, mask);
                for (uint32_t i = 0; i < data.size(); ++i) {
                    const bool inside = i >= offset && i < offset + size;
                    const uint8_t key =
                        inside ? static_cast<uint8_t>(mask >> (8 * ((i - offset) & 3))) : 0;
                    ASSERT_EQ(data[i], original[i] ^ key)
                        << "mask " << mask << " offset " << offset << " size " << size;
                }
            }
        }
    }
}

TEST(Codecs, DecodeIntoFillsAnExactBufferAndNeverPassesIt) {
    // Whole entries are decoded straight into the caller's buffer, which holds exactly the
    // entry's size: the decoder must fit it and refuse one byte less.
    struct Case {
        const BlockCodec* codec;
        uint32_t tooSmallCode;  // LZO: decoder overrun; LZMA: header size above capacity
    };
    const Compress_LZO lzo;
    const Compress_LZMA lzma;
    for (const Case& c : {Case{&lzo, 19u}, Case{&lzma, 9u}}) {
        SCOPED_TRACE(static_cast<int>(c.codec->GetType()));
        for (size_t n : {1, 777, 70000}) {
            const auto in = TextBytes(n, static_cast<uint32_t>(n));
            const auto stored = Encode(*c.codec, in);
            auto input = stored;
            std::vector<uint8_t> out(n);
            uint32_t decoded = 0;
            ASSERT_TRUE(c.codec->DecodeInto(input.data(), static_cast<uint32_t>(input.size()),
                                            out.data(), static_cast<uint32_t>(n), decoded))
                << GetLastErrorText();
            EXPECT_EQ(decoded, n);
            EXPECT_EQ(out, in);
            input = stored;
            std::vector<uint8_t> small(std::max<size_t>(n - 1, 1));  // never a null pointer
            EXPECT_FALSE(c.codec->DecodeInto(input.data(), static_cast<uint32_t>(input.size()),
                                             small.data(), static_cast<uint32_t>(n - 1), decoded));
            EXPECT_EQ(GetLastErrorCode(), c.tooSmallCode);
            EXPECT_EQ(decoded, 0u);
        }
        uint8_t byte = 0;
        uint32_t decoded = 7;
        EXPECT_TRUE(c.codec->DecodeInto(nullptr, 0, nullptr, 0, decoded));
        EXPECT_EQ(decoded, 0u);
        EXPECT_FALSE(c.codec->DecodeInto(nullptr, 4, &byte, 1, decoded));
        EXPECT_EQ(GetLastErrorCode(), 10u);
        EXPECT_FALSE(c.codec->DecodeInto(&byte, 1, nullptr, 4, decoded));
        EXPECT_EQ(GetLastErrorCode(), 10u);
    }
}

TEST(Codecs, LzmaHeaderFields) {
    auto in = TextBytes(20000, 4);
    auto stored = Encode(Compress_LZMA(), in);
    ApplyWordMask(stored.data(), static_cast<uint32_t>(stored.size()), kLzmaWordMask);
    EXPECT_LE(stored[0], 1);
    EXPECT_EQ(stored[1], (2 * 5 + 0) * 9 + 3);  // lc 3, lp 0, pb 2
    EXPECT_EQ(LoadU32(stored.data() + 2), kLzmaDictionarySize);
    EXPECT_EQ(LoadU32(stored.data() + 6), 20000u);
    EXPECT_EQ(LoadU32(stored.data() + 10), 0u);
}

TEST(Codecs, LzmaX86FilterIsKeptWhenSmaller) {
    // x86 code with many CALL rel32 instructions to a few targets: BCJ makes them repeat.
    std::vector<uint8_t> code;
    for (uint32_t i = 0; i < 20000; ++i) {
        code.push_back(0xE8);
        uint32_t rel = 0x1000 - static_cast<uint32_t>(code.size() + 4) + (i % 4) * 16;
        for (int k = 0; k < 4; ++k) code.push_back(static_cast<uint8_t>(rel >> (8 * k)));
        code.push_back(0x90);
    }
    auto stored = Encode(Compress_LZMA(), code);
    auto header = stored;
    ApplyWordMask(header.data(), 1, kLzmaWordMask);
    EXPECT_EQ(header[0], 1);
    EXPECT_EQ(Decode(Compress_LZMA(), stored, static_cast<uint32_t>(code.size())), code);
}

TEST(Codecs, LzmaRefusesBadHeaders) {
    Compress_LZMA lzma;
    uint8_t buf[64] = {};
    EXPECT_FALSE(lzma.Decompress(buf, 64, 13, 0));  // 13 bytes
    EXPECT_EQ(GetLastErrorCode(), 19u);
    EXPECT_EQ(GetLastErrorText().rfind("LZMA decompress[", 0), 0u);

    auto in = TextBytes(1000, 5);
    const auto good = Encode(lzma, in);
    auto patch = [&](int offset, uint32_t value) {
        auto s = good;
        ApplyWordMask(s.data(), static_cast<uint32_t>(s.size()), kLzmaWordMask);
        StoreU32(s.data() + offset, value);
        ApplyWordMask(s.data(), static_cast<uint32_t>(s.size()), kLzmaWordMask);
        s.resize(std::max<size_t>(s.size(), 1004));
        return s;
    };
    // A size above the capacity: error 9, nothing allocated for it.
    auto s = patch(6, 0x7FFFFFFF);
    EXPECT_FALSE(lzma.Decompress(s.data(), static_cast<uint32_t>(s.size()),
                                 static_cast<uint32_t>(good.size()), 0));
    EXPECT_EQ(GetLastErrorCode(), 9u);
    EXPECT_EQ(GetLastErrorText(), "LZMA decompress=2147483647");
    // High size bytes set.
    s = patch(10, 1);
    EXPECT_FALSE(lzma.Decompress(s.data(), static_cast<uint32_t>(s.size()),
                                 static_cast<uint32_t>(good.size()), 0));
    EXPECT_EQ(GetLastErrorCode(), 19u);
    // A dictionary of 4 GiB - 1 is refused before anything is allocated.
    s = patch(2, 0xFFFFFFFF);
    EXPECT_FALSE(lzma.Decompress(s.data(), static_cast<uint32_t>(s.size()),
                                 static_cast<uint32_t>(good.size()), 0));
    EXPECT_EQ(GetLastErrorCode(), 19u);
    // Truncated stream.
    s = good;
    s.resize(good.size() / 2);
    s.resize(1004);
    EXPECT_FALSE(lzma.Decompress(s.data(), 1004, static_cast<uint32_t>(good.size() / 2), 0));
    EXPECT_EQ(GetLastErrorCode(), 19u);
}

TEST(Codecs, XorArguments) {
    Compress_XOR x;
    uint8_t buf[4] = {1, 2, 3, 4};
    uint32_t len = 5;
    EXPECT_FALSE(x.Compress(buf, 4, len));
    EXPECT_EQ(GetLastErrorCode(), 10u);
    EXPECT_FALSE(x.Decompress(nullptr, 4, 4, 0));
    EXPECT_TRUE(x.Decompress(buf, 4, 0, 0));
    len = 4;
    ASSERT_TRUE(x.Compress(buf, 4, len));
    EXPECT_EQ(buf[2], 3 ^ XorKeyByte(2));
    ASSERT_TRUE(x.Decompress(buf + 2, 2, 2, 2));  // decodes from position 2
    EXPECT_EQ(buf[2], 3);
    EXPECT_EQ(buf[3], 4);
}

class CompressFileTest : public axp_test::TempDirTest {};

TEST_F(CompressFileTest, CompressAndDecompressFilesWithHeaderAndTrailer) {
    ICompressMgr& m = GetCompressManager();
    auto in = TextBytes(50000, 6);
    axp_test::WriteFileBytes(Path("in"), in);
    const uint8_t header[8] = {'J', 'Z', 'Q', '1', 0x50, 0xC3, 0, 0};
    uint32_t unpacked = 0, compressed = 0;
    ICompress* lzma = m.GetByType(3);
    ASSERT_TRUE(
        m.CompressFile(lzma, Path("in"), Path("sealed"), unpacked, header, 8, true, compressed));
    EXPECT_EQ(unpacked, 50000u);
    auto sealed = axp_test::ReadFileBytes(Path("sealed"));
    ASSERT_EQ(sealed.size(), 8u + compressed + 4u);
    EXPECT_EQ(LoadU32(sealed.data() + sealed.size() - 4), Crc(sealed.data(), sealed.size() - 4));
    ASSERT_TRUE(m.DecompressFile(lzma, Path("sealed"), Path("out"), 8, 50000));
    EXPECT_EQ(axp_test::ReadFileBytes(Path("out")), in);
}

TEST_F(CompressFileTest, DecompressFileOfExactlySkipPlusFourBytesIsCorrupt) {
    axp_test::WriteFileBytes(Path("tiny"), std::vector<uint8_t>(12, 0));
    ICompressMgr& m = GetCompressManager();
    EXPECT_FALSE(m.DecompressFile(m.GetByType(3), Path("tiny"), Path("out"), 8, 10));
    EXPECT_EQ(GetLastErrorCode(), 2u);
    EXPECT_FALSE(m.DecompressFile(nullptr, Path("tiny"), Path("out"), 8, 10));
    EXPECT_EQ(GetLastErrorCode(), 10u);
    uint32_t a, b;
    EXPECT_FALSE(
        m.CompressFile(m.GetByType(2), Path("missing"), Path("out"), a, nullptr, 0, false, b));
    EXPECT_EQ(GetLastErrorCode(), 4u);
}

// Compressing a file onto itself: a write that fails part-way (here the file-size limit,
// as a full disk would) leaves the file as it was instead of cut short.
TEST_F(CompressFileTest, FailedWriteInPlaceKeepsTheSource) {
    const auto in = axp_test::RandomBytes(40000, 8);  // grows when compressed
    axp_test::WriteFileBytes(Path("f"), in);
    ICompressMgr& m = GetCompressManager();
    const uint8_t header[8] = {'J', 'Z', 'Q', '1', 0x40, 0x9C, 0, 0};
    uint32_t unpacked = 0, compressed = 0;
    void (*previous)(int) = signal(SIGXFSZ, SIG_IGN);
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit limit = saved;
    limit.rlim_cur = in.size();
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
    const bool ok =
        m.CompressFile(m.GetByType(3), Path("f"), Path("f"), unpacked, header, 8, true, compressed);
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, previous);
    EXPECT_FALSE(ok);
    EXPECT_EQ(GetLastErrorCode(), 5u);
    EXPECT_EQ(GetLastErrorText(), "errno=" + std::to_string(EFBIG));
    EXPECT_EQ(axp_test::ReadFileBytes(Path("f")), in);
    EXPECT_FALSE(std::filesystem::exists(Path("f.~part")));
}

class CodecPackTest : public axp_test::TempDirTest {};

TEST_F(CodecPackTest, CompressedEntriesReadBackThroughThePack) {
    PackFile p;
    ASSERT_TRUE(p.Create(Path("c.pak")));
    ICompressMgr& m = GetCompressManager();
    for (uint8_t type : {1, 2, 3}) {
        for (size_t n : {0, 1, 1000, 600000}) {
            auto in = TextBytes(n, static_cast<uint32_t>(n + type));
            auto stored = Encode(*m.GetByType(type), in);
            std::string name = axp_test::Numbered("e", type);
            name += axp_test::Numbered("_", n);
            ASSERT_TRUE(p.AddFile(stored.data(), static_cast<uint32_t>(stored.size()), name, true,
                                  false, type, static_cast<uint32_t>(n)));
            EXPECT_EQ(p.GetCompressType(name), type);
            EXPECT_EQ(p.GetFileSize(name, false), n);
            EXPECT_EQ(p.GetFileSize(name, true), stored.size());
            std::vector<uint8_t> out(n);
            ASSERT_TRUE(p.ReadFileData(name, true, out.data(), static_cast<uint32_t>(n)))
                << GetLastErrorText();
            EXPECT_EQ(out, in) << name;
        }
    }
    // An LZMA entry whose recorded size disagrees with its header is refused.
    auto in = TextBytes(1000, 1);
    auto stored = Encode(*m.GetByType(3), in);
    ASSERT_TRUE(p.AddFile(stored.data(), static_cast<uint32_t>(stored.size()), "liar", true, false,
                          3, 999));
    EXPECT_EQ(p.OpenFile("liar"), nullptr);
    ASSERT_TRUE(p.AddFile(stored.data(), static_cast<uint32_t>(stored.size()), "liar2", true, false,
                          3, 1001));
    EXPECT_EQ(p.OpenFile("liar2"), nullptr);
    EXPECT_EQ(GetLastErrorCode(), 2u);
}

TEST_F(CodecPackTest, WholeEntryReadsReportFaultsAsAnOpenedStreamDoes) {
    // A read of the whole entry decodes into the caller's buffer; a read of a part goes
    // through the preloaded stream. Both must refuse what OpenFile refuses, with its error.
    PackFile p;
    ASSERT_TRUE(p.Create(Path("f.pak")));
    ICompressMgr& m = GetCompressManager();
    const auto in = TextBytes(5000, 7);
    struct Case {
        const char* name;
        uint8_t type;
        uint32_t recordedSize;  // the pack's unpacked size; the content decodes to 5000
        bool garbage;
    };
    const Case cases[] = {
        {"lzo_short", 2, 4999, false},  {"lzo_long", 2, 5001, false},
        {"lzma_short", 3, 4999, false}, {"lzma_long", 3, 5001, false},
        {"lzo_garbage", 2, 5000, true}, {"lzma_garbage", 3, 5000, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto stored = c.garbage ? RandomBytes(3000, 11) : Encode(*m.GetByType(c.type), in);
        ASSERT_TRUE(p.AddFile(stored.data(), static_cast<uint32_t>(stored.size()), c.name, true,
                              false, c.type, c.recordedSize));
        EXPECT_EQ(p.OpenFile(c.name), nullptr);
        const uint32_t openCode = GetLastErrorCode();
        const std::string openText = GetLastErrorText();
        for (uint32_t count : {c.recordedSize, c.recordedSize / 2}) {
            std::vector<uint8_t> out(count);
            EXPECT_FALSE(p.ReadFileData(c.name, true, out.data(), count)) << count;
            EXPECT_EQ(GetLastErrorCode(), openCode) << count;
            EXPECT_EQ(GetLastErrorText(), openText) << count;
        }
    }
    // A sound entry: the whole of it, and a part of it, read back.
    for (uint8_t type : {2, 3}) {
        const auto stored = Encode(*m.GetByType(type), in);
        const std::string name = axp_test::Numbered("ok", type);
        ASSERT_TRUE(p.AddFile(stored.data(), static_cast<uint32_t>(stored.size()), name, true,
                              false, type, 5000));
        std::vector<uint8_t> part(1234);
        ASSERT_TRUE(p.ReadFileData(name, true, part.data(), 1234)) << GetLastErrorText();
        EXPECT_TRUE(std::equal(part.begin(), part.end(), in.begin()));
        std::vector<uint8_t> whole(5000);
        ASSERT_TRUE(p.ReadFileData(name, true, whole.data(), 5000)) << GetLastErrorText();
        EXPECT_EQ(whole, in);
    }
}

}  // namespace
}  // namespace AXP

namespace AXP {
namespace {

class ImplausibleSizeTest : public axp_test::TempDirTest {};

TEST_F(ImplausibleSizeTest, CompressedEntryClaimingAHugeSizeIsRefusedBeforeAllocation) {
    PackFile p;
    ASSERT_TRUE(p.Create(Path("h.pak")));
    const uint8_t junk[40] = {1, 2, 3};
    ASSERT_TRUE(p.AddFile(junk, 40, "lzo", true, false, 2, 0xFFFFFF00u));
    ASSERT_TRUE(p.AddFile(junk, 40, "lzma", true, false, 3, 40 * 8192 + 4097));
    EXPECT_EQ(p.OpenFile("lzo"), nullptr);
    EXPECT_EQ(GetLastErrorCode(), 2u);
    EXPECT_EQ(p.OpenFile("lzma"), nullptr);
    EXPECT_EQ(GetLastErrorCode(), 2u);
    EXPECT_EQ(Compress_LZO().GetMaxDecompressedSize(40), 40u * 256 + 4096);
}

}  // namespace
}  // namespace AXP
