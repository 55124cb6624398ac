#include "platform/text_encoding.h"

#include <gtest/gtest.h>

namespace platform {
namespace {

// "数据" and "测试" in GBK, and "乗" whose trail byte is 0x5C ("\").
const std::string kShujuGbk = "\xCA\xFD\xBE\xDD";
const std::string kCeshiGbk = "\xB2\xE2\xCA\xD4";
const std::string kTrail5CGbk = "\x81\x5C";

TEST(TextEncoding, GbkRoundTripsThroughUtf8) {
    for (const std::string& gbk : {kShujuGbk, kCeshiGbk, kTrail5CGbk, std::string("plain.pak")}) {
        std::string utf8, back;
        ASSERT_TRUE(GbkToUtf8(gbk, utf8));
        ASSERT_TRUE(Utf8ToGbk(utf8, back));
        EXPECT_EQ(back, gbk);
    }
    std::string utf8;
    ASSERT_TRUE(GbkToUtf8(kShujuGbk, utf8));
    EXPECT_EQ(utf8, "数据");
    ASSERT_TRUE(GbkToUtf8(kTrail5CGbk, utf8));
    EXPECT_EQ(utf8, "乗");  // the 0x5C byte is not a separator
}

TEST(TextEncoding, InvalidInputFailsOrIsReplaced) {
    std::string out = "stale";
    EXPECT_FALSE(GbkToUtf8("\x81", out));  // a lead byte with no trail byte
    EXPECT_TRUE(out.empty());
    EXPECT_FALSE(Utf8ToGbk("\xC3", out));
    EXPECT_FALSE(Utf8ToGbk("\xF0\x9F\x98\x80", out));  // an emoji has no GBK form
    EXPECT_EQ(GbkToUtf8Lossy("a\xFF"
                             "b"),
              "a\xEF\xBF\xBD"
              "b");
    EXPECT_EQ(Utf8ToGbkLossy("a\xF0\x9F\x98\x80"), "a????");
}

TEST(TextEncoding, Utf16ToUtf8AndBack) {
    const std::u16string wide = u"更新成功! \U0001F600";
    EXPECT_EQ(Utf16ToUtf8(wide), "更新成功! \U0001F600");
    EXPECT_EQ(Utf8ToUtf16("更新成功! \U0001F600"), wide);
    EXPECT_EQ(Utf16ToUtf8(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD");
    EXPECT_EQ(Utf8ToUtf16("\xE4\xB8"), u"\uFFFD");
}

}  // namespace
}  // namespace platform
