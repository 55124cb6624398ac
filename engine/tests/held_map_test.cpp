// The held map's text: what a block server answers to "GET /KEY?held", and what an asker
// accepts of it.
#include "engine/held_map.h"

#include <gtest/gtest.h>

namespace engine {
namespace {

using transfer::ByteRange;

TEST(HeldMap, FormatJoinsSortsAndClipsAndReadsBack) {
    const std::string text = FormatHeldMap(
        1000, {{500, 600}, {0, 100}, {100, 150}, {140, 200}, {990, 2000}, {-5, 0}, {300, 300}});
    EXPECT_EQ(text, "QGHELD 1000 3\r\n0-199\r\n500-599\r\n990-999\r\n");
    const std::optional<HeldMap> map = ParseHeldMap(text);
    ASSERT_TRUE(map);
    EXPECT_EQ(map->length, 1000);
    EXPECT_EQ(map->ranges, (std::vector<ByteRange>{{0, 200}, {500, 600}, {990, 1000}}));
    EXPECT_EQ(map->heldBytes(), 310);
    EXPECT_FALSE(map->whole());
    EXPECT_TRUE(ParseHeldMap(FormatHeldMap(7, {{0, 7}}))->whole());
    EXPECT_EQ(FormatHeldMap(0, {}), "QGHELD 0 0\r\n");
    EXPECT_TRUE(ParseHeldMap("QGHELD 0 0\r\n"));
}

TEST(HeldMap, AFileInTooManyPiecesListsTheFirstOnly) {
    std::vector<ByteRange> ranges;
    for (int64_t i = 0; i < 3000; ++i) ranges.push_back({i * 10, i * 10 + 5});
    const std::optional<HeldMap> map = ParseHeldMap(FormatHeldMap(30000, ranges));
    ASSERT_TRUE(map);
    ASSERT_EQ(map->ranges.size(), kMaxHeldRanges);
    EXPECT_EQ(map->ranges.back(), (ByteRange{10230, 10235}));
}

TEST(HeldMap, AnythingElseIsRefusedWhole) {
    const std::string tooMany = [] {
        std::string text = "QGHELD 100000 1025\r\n";
        for (int i = 0; i < 1025; ++i)
            text += std::to_string(i * 10) + "-" + std::to_string(i * 10 + 1) + "\r\n";
        return text;
    }();
    const struct {
        const char* what;
        std::string body;
    } cases[] = {
        {"empty", ""},
        {"another magic", "QGHOLD 10 0\r\n"},
        {"no line end", "QGHELD 10 0"},
        {"bare line feeds", "QGHELD 10 1\n0-1\n"},
        {"fewer lines than counted", "QGHELD 10 2\r\n0-1\r\n"},
        {"more lines than counted", "QGHELD 10 1\r\n0-1\r\n4-5\r\n"},
        {"a range past the end", "QGHELD 10 1\r\n5-10\r\n"},
        {"a range backwards", "QGHELD 10 1\r\n5-4\r\n"},
        {"ranges out of order", "QGHELD 10 2\r\n5-6\r\n0-1\r\n"},
        {"ranges overlapping", "QGHELD 10 2\r\n0-5\r\n5-6\r\n"},
        {"ranges touching", "QGHELD 10 2\r\n0-4\r\n5-6\r\n"},
        {"a sign", "QGHELD 10 1\r\n+0-1\r\n"},
        {"a leading zero", "QGHELD 10 1\r\n01-2\r\n"},
        {"a blank", "QGHELD 10 1\r\n0 -1\r\n"},
        {"a negative length", "QGHELD -10 0\r\n"},
        {"a number too long", "QGHELD 1234567890123456789 0\r\n"},
        {"more ranges than allowed", tooMany},
        {"a body over the cap", "QGHELD 10 0\r\n" + std::string(kMaxHeldMapBytes, ' ')},
    };
    for (const auto& c : cases) EXPECT_FALSE(ParseHeldMap(c.body)) << c.what;
}

}  // namespace
}  // namespace engine
