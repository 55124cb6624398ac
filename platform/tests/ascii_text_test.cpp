#include "platform/ascii_text.h"

#include <gtest/gtest.h>

namespace {

// Only A-Z fold: a GBK byte pair whose trail byte lies in the capitals' range must not
// compare equal to another character.
TEST(AsciiText, FoldsOnlyAsciiLetters) {
    EXPECT_TRUE(platform::EqualsIgnoringAsciiCase("Range", "rANGE"));
    EXPECT_FALSE(platform::EqualsIgnoringAsciiCase("range", "ranges"));
    EXPECT_FALSE(platform::EqualsIgnoringAsciiCase("\xC4", "\xE4"));
    EXPECT_FALSE(platform::EqualsIgnoringAsciiCase("@[", "`{"));
    EXPECT_EQ(platform::LowerAscii("AbC\x81Z9\xC4"), "abc\x81z9\xC4");
}

}  // namespace
