// The transfer's bookkeeping alone: block lists, the piece map, the blame of a wrong whole
// file, and the sources taken from a lookup answer.
#include <gtest/gtest.h>

#include <filesystem>

#include "engine/source_line.h"
#include "engine/transfer/block_list.h"
#include "engine/transfer/digest_blame.h"
#include "engine/transfer/piece_map.h"
#include "testing/temp_dir.h"
#include "testing/test_bytes.h"

namespace engine {
namespace {

using transfer::ByteRange;
using transfer::DigestBlame;
using transfer::PieceMap;

TEST(BlockList, DescribesAFileAndReadsBackOnlyWhatItWrote) {
    testing_support::TempDir dir("qg_blocks");
    const std::string data = testing_support::RandomBytes(3 * kCheckedBlockSize + 5, 1);
    testing_support::WriteFile(dir / "f.bin", data);
    BlockList list;
    std::string error;
    ASSERT_TRUE(DescribeFile(dir / "f.bin", list, error)) << error;
    EXPECT_EQ(list.length, static_cast<int64_t>(data.size()));
    ASSERT_EQ(list.BlockCount(), 4);
    EXPECT_EQ(list.BlockBytes(3), 5);
    EXPECT_EQ(list.whole, Sha256Of(data));
    EXPECT_EQ(list.blocks[3], Sha256Of(data.substr(3 * kCheckedBlockSize)));

    const std::string bytes = SerializeBlockList(list);
    EXPECT_EQ(bytes.size(), 56u + 4 * 32);
    const std::optional<BlockList> back = ParseBlockList(bytes);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->blocks, list.blocks);
    EXPECT_EQ(back->whole, list.whole);

    // Refused whole: another magic, version or block size, a count that does not fit the
    // length, a length past the limit.
    auto changed = [&](size_t at, char to) {
        std::string other = bytes;
        other[at] = to;
        return other;
    };
    for (const std::string& bad :
         {changed(0, 'X'), changed(8, 2), changed(13, 1), changed(18, 0x7F), changed(21, 1),
          bytes.substr(0, bytes.size() - 1), bytes + std::string(32, '\0')}) {
        EXPECT_FALSE(ParseBlockList(bad));
    }
    BlockList empty;
    EXPECT_FALSE(DescribeFile(dir / "empty", empty, error));  // not there yet
    testing_support::WriteFile(dir / "empty", "");
    ASSERT_TRUE(DescribeFile(dir / "empty", empty, error));
    EXPECT_EQ(empty.BlockCount(), 0);
    EXPECT_TRUE(ParseBlockList(SerializeBlockList(empty)));
}

TEST(PieceMap, KeepsWritersAndConvertsToAndFromRegions) {
    PieceMap map(10 * 100 + 50);  // blocks of 100 bytes, a short last one
    map.Add(0, 250, 1, true);
    map.Add(250, 600, 2, false);
    map.Add(200, 300, 3, true);  // written again by another source
    EXPECT_EQ(map.heldBytes(), 600);
    EXPECT_TRUE(map.Held(0, 600));
    EXPECT_FALSE(map.Held(0, 601));
    EXPECT_TRUE(map.Hashed(0, 300));
    EXPECT_FALSE(map.Hashed(250, 350));
    EXPECT_EQ(map.RangesOf(1), (std::vector<ByteRange>{{0, 200}}));
    EXPECT_EQ(map.RangesOf(3), (std::vector<ByteRange>{{200, 300}}));
    EXPECT_EQ(map.Writers(), (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(map.Gaps(), (std::vector<ByteRange>{{600, 1050}}));

    const std::vector<PieceMap::Span> removed = map.Remove(150, 350);
    EXPECT_EQ(removed.size(), 3u);
    EXPECT_EQ(map.heldBytes(), 400);
    map.Add(150, 350, 4, true);
    map.Add(1000, 1050, 4, true);

    // Complete blocks are those whose every byte a kept span holds.
    const auto regions = map.ToRegions(100, [](const PieceMap::Span& s) { return s.hashed; });
    std::vector<std::pair<int32_t, bool>> seen;
    for (const Region& r : regions) seen.emplace_back(r.length, r.completed());
    EXPECT_EQ(seen, (std::vector<std::pair<int32_t, bool>>{{3, true}, {7, false}, {1, true}}));

    const PieceMap back = PieceMap::FromRegions(regions, 1050, 100);
    EXPECT_EQ(back.heldBytes(), 350);
    EXPECT_TRUE(back.Held(0, 300));
    EXPECT_TRUE(back.Held(1000, 1050));
    EXPECT_EQ(back.Writers(), std::vector<int>{PieceMap::kEarlierRun});
}

TEST(DigestBlame, SuspectsTheLeastTrustedFirstAndEachOnce) {
    DigestBlame blame;
    const auto rank = [](int writer) { return writer == 2 ? 0 : writer == 0 ? 3 : 2; };
    const std::vector<int> writers = {0, 1, 2};
    auto next = blame.NextSuspect(writers, rank);
    ASSERT_TRUE(next);
    EXPECT_EQ(next->writer, 2);  // the lookup's source
    EXPECT_FALSE(next->certain);
    EXPECT_EQ(blame.NextSuspect(writers, rank)->writer, 1);
    EXPECT_EQ(blame.Passed(), 1);  // its bytes were the wrong ones
    EXPECT_FALSE(blame.Passed());
    EXPECT_EQ(blame.NextSuspect(writers, rank)->writer, 0);
    EXPECT_FALSE(blame.NextSuspect(writers, rank));  // every writer had its round

    DigestBlame alone;
    next = alone.NextSuspect({5}, rank);
    ASSERT_TRUE(next);
    EXPECT_TRUE(next->certain);
}

TEST(LookupSources, CappedUniqueAndOfKnownSchemes) {
    std::vector<std::string> lines;
    for (int i = 0; i < 50000; ++i)
        lines.push_back("http://127.0.0.1:" + std::to_string(1000 + i % 300) + "/f");
    lines.push_back("http://127.0.0.1:9/p\tkind=peer");
    lines.push_back("ftp://127.0.0.1:9/p\tkind=peer");  // a peer speaks HTTP
    lines.push_back("gopher://127.0.0.1/f");
    lines.push_back("http://127.0.0.1:1000/f\tkind=peer");  // named before as a mirror
    const AnsweredSources taken = SelectSources(lines, 64, 256);
    EXPECT_EQ(taken.mirrors.size(), 64u);
    EXPECT_EQ(taken.peers, std::vector<std::string>{"http://127.0.0.1:9/p"});
    std::set<std::string> unique(taken.mirrors.begin(), taken.mirrors.end());
    EXPECT_EQ(unique.size(), taken.mirrors.size());
    EXPECT_EQ(taken.leftOut, 50000u - 64 + 2);
}

}  // namespace
}  // namespace engine
