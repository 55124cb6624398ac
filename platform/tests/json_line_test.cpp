#include "platform/json_line.h"

#include <gtest/gtest.h>

namespace {

// Texts come from servers and files too: whatever their bytes, the line stays valid JSON
// that says what a reader can tell of them.
TEST(JsonLine, TextsAreEscapedAndAlwaysValidUtf8) {
    struct Case {
        std::string text, json;
    } cases[] = {
        {"plain", "\"plain\""},
        {"say \"hi\" \\ there", "\"say \\\"hi\\\" \\\\ there\""},
        {"line\nend\ttab\x01\x7f", "\"line\\u000aend\\u0009tab\\u0001\\u007f\""},
        {"更新完成 €", "\"更新完成 €\""},
        {"\xff"
         "a\xc3",
         "\"\\ufffda\\ufffd\""},  // stray and cut-off bytes
        {"\xc0\xaf\xed\xa0\x80", "\"\\ufffd\\ufffd\\ufffd\\ufffd\\ufffd\""},  // overlong, surrogate
        {"\xf0\x9f\x98\x80", "\"\xf0\x9f\x98\x80\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.json);
        EXPECT_EQ(platform::JsonLine().Text("t", c.text).str(), "{\"t\":" + c.json + "}");
    }
    EXPECT_EQ(platform::JsonLine()
                  .Text("event", "progress")
                  .Number("bytes", -5)
                  .Number("size", 8589934592)
                  .Bool("marquee", false)
                  .str(),
              R"({"event":"progress","bytes":-5,"size":8589934592,"marquee":false})");
}

}  // namespace
