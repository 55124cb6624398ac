#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/peer_lookup.h"
#include "engine/source_line.h"

namespace engine {
namespace {

constexpr const char* kDigest = "0123456789abcdef0123456789ABCDEF";
constexpr const char* kUpperDigest = "0123456789ABCDEF0123456789ABCDEF";

TEST(LookupAnswer, ReadsHeaderAndSourceLines) {
    const std::string digest = kDigest;
    struct Row {
        std::string name, answer;
        int code;
        int64_t size;
        std::string md5;
        std::vector<std::string> sources;
    } rows[] = {
        {"full answer",
         "Length=12345\r\nsomething\r\nMD5=" + digest +
             "\r\n\r\nhttp://a/1\r\n\r\nftp://b/2\tw=1\r\n",
         0,
         12345,
         kUpperDigest,
         {"http://a/1", "ftp://b/2\tw=1"}},
        {"keys without regard to case",
         "length=7\r\nx\r\nmd5=" + digest + "\r\n\r\n",
         0,
         7,
         kUpperDigest,
         {}},
        {"FAILED", "FAILED no such file\r\n\r\nhttp://a/1\r\n", 4, -1, "old", {}},
        {"no blank line",
         "Length=5\r\nx\r\nMD5=" + digest + "\r\nhttp://a/1\r\n",
         3,
         -1,
         "old",
         {}},
        {"empty answer", "", 3, -1, "old", {}},
        {"digest of 31", "Length=5\r\nx\r\nMD5=" + digest.substr(1) + "\r\n\r\n", 0, 5, "old", {}},
        {"digest of 33", "Length=5\r\nx\r\nMD5=" + digest + "0\r\n\r\n", 0, 5, "old", {}},
        {"digest not hexadecimal",
         "Length=5\r\nx\r\nMD5=" + std::string(32, 'z') + "\r\n\r\n",
         0,
         5,
         "old",
         {}},
        {"digest on the wrong line", "Length=5\r\nMD5=" + digest + "\r\n\r\n", 0, 5, "old", {}},
        {"header only", "Length=5\r\n\r\n", 0, 5, "old", {}},
        {"blank line only", "\r\n\r\n", 0, -1, "old", {}},
        {"negative length", "Length=-5\r\n\r\nhttp://a/1", 0, -1, "old", {"http://a/1"}},
        {"length not a number", "Length=abc\r\n\r\n", 0, -1, "old", {}},
        {"length on the wrong line", "x\r\nLength=5\r\n\r\n", 0, -1, "old", {}},
    };
    for (const Row& row : rows) {
        int64_t size = -1;
        std::string md5 = "old";
        std::vector<std::string> sources;
        EXPECT_EQ(ParseLookupAnswer(row.answer, size, md5, sources), row.code) << row.name;
        EXPECT_EQ(size, row.size) << row.name;
        EXPECT_EQ(md5, row.md5) << row.name;
        EXPECT_EQ(sources, row.sources) << row.name;
    }
}

TEST(LookupRequestBody, NamesTheFileByUrlOrDigest) {
    struct Row {
        std::string name, url, referer, md5, userId;
        int32_t pc, mc;
        std::string body;  // "": nothing to ask
    } rows[] = {
        {"url and referer", "http://h/a b?x=1&y=2", "http://h/", "", "u1", 3, 4,
         "url=http%3A%2F%2Fh%2Fa%20b%3Fx%3D1%26y%3D2&refer=http%3A%2F%2Fh%2F&uid=u1&pc=3&mc=4"},
        {"url wins over md5", "http://h/f", "", kUpperDigest, "u1", 0, 0,
         "url=http%3A%2F%2Fh%2Ff&uid=u1&pc=0&mc=0"},
        {"md5", "", "http://ignored/", kUpperDigest, "u1", 1, 2,
         std::string("md5=") + kUpperDigest + "&uid=u1&pc=1&mc=2"},
        {"user id cut at a line end", "", "", "ab", "u1\r\nX-Injected: 1", 0, 0,
         "md5=ab&uid=u1&pc=0&mc=0"},
        {"user id with a field separator", "", "", "ab", "u&pc=9", 0, 0,
         "md5=ab&uid=u%26pc%3D9&pc=0&mc=0"},
        {"nothing named", "", "http://h/", "", "u1", 0, 0, ""},
        {"no user id", "http://h/f", "", "", "", 0, 0, ""},
        {"user id empty after the cut", "http://h/f", "", "", "\nu1", 0, 0, ""},
        {"negative pc", "http://h/f", "", "", "u1", -1, 0, ""},
        {"negative mc", "http://h/f", "", "", "u1", 0, -1, ""},
    };
    for (const Row& row : rows) {
        LookupRequest r;
        r.url = row.url;
        r.referer = row.referer;
        r.md5 = row.md5;
        r.userId = row.userId;
        r.pc = row.pc;
        r.mc = row.mc;
        EXPECT_EQ(BuildLookupBody(r), row.body) << row.name;
        if (!row.body.empty()) continue;
        int64_t size = 1;
        std::string md5;
        std::vector<std::string> sources;
        EXPECT_EQ(QueryFileSources(r, size, md5, sources), kLookupNothingToAsk) << row.name;
    }
}

TEST(SourceLine, UrlAndOptionalFields) {
    struct Row {
        std::string line;
        bool ok;
        std::string url;
        std::vector<std::pair<std::string, std::string>> fields;
    } rows[] = {
        {"http://10.0.0.1:8080/f.pak", true, "http://10.0.0.1:8080/f.pak", {}},
        {"FTP://u:p@h/f\tweight=3\tkind=mirror",
         true,
         "FTP://u:p@h/f",
         {{"weight", "3"}, {"kind", "mirror"}}},
        {"https://h/f\tbad field\t=x\tok_1=a=b\t", true, "https://h/f", {{"ok_1", "a=b"}}},
        {"peer://h/f", false, "", {}},
        {"http://", false, "", {}},
        {"http://h/a b", false, "", {}},
        {"http://h/\x01", false, "", {}},
        {"\thttp://h/f", false, "", {}},
        {"http://h/" + std::string(kMaxSourceUrl, 'a'), false, "", {}},
    };
    for (const Row& row : rows) {
        SourceLine parsed;
        EXPECT_EQ(ParseSourceLine(row.line, parsed), row.ok) << row.line;
        if (!row.ok) continue;
        EXPECT_EQ(parsed.url, row.url) << row.line;
        EXPECT_EQ(parsed.fields, row.fields) << row.line;
    }
    SourceLine parsed;
    ASSERT_TRUE(ParseSourceLine("http://h/f\tweight=3", parsed));
    EXPECT_EQ(parsed.Field("weight"), "3");
    EXPECT_EQ(parsed.Field("absent"), "");
}

}  // namespace
}  // namespace engine
