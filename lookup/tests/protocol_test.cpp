// The request forms, the answer form and the mirrors file, read without trust.
#include "lookup/protocol.h"

#include <gtest/gtest.h>

#include "lookup/form.h"
#include "lookup/mirror_list.h"

namespace {

using lookup::Announcement;
using lookup::FileQuery;

const std::string kDigest = "0123456789abcdef0123456789abcdef";

TEST(LookupForms, QueriesAsEnginesSendThemAndRefusals) {
    const struct {
        const char* body;
        const char* refusal;  // "" when read
        const char* url;
        const char* md5;
        uint64_t pc, mc;
        uint16_t port;
    } cases[] = {
        {"url=http%3A%2F%2Fa.example%2Fp%25201.pak&refer=x&uid=u%26v&pc=3&mc=4", "",
         "http://a.example/p%201.pak", "", 3, 4, 0},
        {"md5=0123456789ABCDEF0123456789abcdef&uid=0&pc=0&mc=0&port=7001", "", "",
         "0123456789abcdef0123456789abcdef", 0, 0, 7001},
        {"url=a%2Bb&&md5=zz", "", "a+b", "", 0, 0, 0},  // url wins over md5
        {"url=a+b", "url is not a plain URL"},          // "+" is a blank
        {"md5=0123&pc=1", "md5 is not 32 hexadecimal digits"},
        {"uid=1&pc=1", "neither url nor md5"},
        {"url=%zz", "bad percent-encoding in url"},
        {"url=%4", "bad percent-encoding in url"},
        {"url=a%00b", "url is not a plain URL"},
        {"url=a&pc=-1", "pc is not a count"},
        {"url=a&mc=1x", "mc is not a count"},
        {"url=a&pc=99999999999999999999999", "", "a", "", UINT64_MAX, 0, 0},
        {"url=a&port=0", "port is not 1 to 65535"},
        {"url=a&port=65536", "port is not 1 to 65535"},
        {"url=a&url=b", "url given twice"},
        {"url", "a field without \"=\""},
        {"u-rl=a", "a field name that is not one"},
        {"a=1&a1=1&a2=1&a3=1&a4=1&a5=1&a6=1&a7=1&a8=1&a9=1&b0=1&b1=1&b2=1&b3=1&b4=1&b5=1&"
         "b6=1&b7=1&b8=1&b9=1&c0=1&c1=1&c2=1&c3=1&c4=1&c5=1&c6=1&c7=1&c8=1&c9=1&d0=1&d1=1&url=x",
         "too many fields"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.body);
        FileQuery q;
        std::string reason;
        const bool read = lookup::ParseFileQuery(c.body, q, reason);
        EXPECT_EQ(read ? "" : reason, c.refusal);
        if (!read) continue;
        EXPECT_EQ(q.url, c.url);
        EXPECT_EQ(q.md5, c.md5);
        EXPECT_EQ(q.peersWanted, c.pc);
        EXPECT_EQ(q.mirrorsWanted, c.mc);
        EXPECT_EQ(q.askerPort, c.port);
    }
}

TEST(LookupForms, AnnouncementsAndWithdrawals) {
    const std::string k = "key=" + kDigest;
    const struct {
        std::string body;
        const char* refusal;
    } cases[] = {
        {k + "&port=7001&length=100&held=40&url=http%3A%2F%2Fa%2Fb", ""},
        {k + "&port=7001&length=100&held=100&md5=" + kDigest + "&complete=1", ""},
        {"key=0123456789ABCDEF0123456789ABCDEF&port=1&length=1&held=1&md5=" + kDigest,
         "key is not 32 lower-case hexadecimal digits"},
        {k + "&length=1&held=1&md5=" + kDigest, "port is not 1 to 65535"},
        {k + "&port=99999&length=1&held=1&md5=" + kDigest, "port is not 1 to 65535"},
        {k + "&port=1&length=-1&held=0&md5=" + kDigest, "length is not a size up to 4 TiB"},
        {k + "&port=1&length=4398046511105&held=0&md5=" + kDigest,
         "length is not a size up to 4 TiB"},
        {k + "&port=1&length=10&held=11&md5=" + kDigest, "held is not a count up to the length"},
        {k + "&port=1&length=10&held=1", "neither md5 nor url"},
        {k + "&port=1&length=10&held=1&md5=abc", "md5 is not 32 hexadecimal digits"},
        {k + "&port=1&length=10&held=1&url=a%20b", "url is not a plain URL"},
        {k + "&port=1&length=10&held=9&md5=" + kDigest + "&complete=1",
         "complete, but held is not the length"},
        {k + "&port=1&length=10&held=9&md5=" + kDigest + "&complete=yes", "complete is not 0 or 1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.body);
        Announcement a;
        std::string reason;
        const bool read = lookup::ParseAnnouncement(c.body, a, reason);
        EXPECT_EQ(read ? "" : reason, c.refusal);
    }
    Announcement a;
    std::string reason;
    ASSERT_TRUE(lookup::ParseAnnouncement(
        k + "&port=7001&length=100&held=40&md5=" + std::string(32, 'A') + "&url=x", a, reason));
    EXPECT_EQ(a.address, "");  // never from the body
    EXPECT_EQ(a.port, 7001);
    EXPECT_EQ(a.md5, std::string(32, 'a'));
    EXPECT_EQ(a.held, 40);
    EXPECT_FALSE(a.complete);

    lookup::Withdrawal w;
    EXPECT_TRUE(lookup::ParseWithdrawal("port=7001", w, reason));
    EXPECT_EQ(w.key, "");
    EXPECT_TRUE(lookup::ParseWithdrawal("port=7001&" + k, w, reason));
    EXPECT_EQ(w.key, kDigest);
    EXPECT_FALSE(lookup::ParseWithdrawal(k, w, reason));
    EXPECT_FALSE(lookup::ParseWithdrawal("port=1&key=x", w, reason));
}

TEST(LookupAnswer, ExactForm) {
    lookup::FileAnswer answer;
    answer.length = 1234;
    answer.md5 = kDigest;
    answer.mirrors = {"http://m.example/a.pak"};
    answer.peers = {{"127.0.0.1", 7001, kDigest}, {"::1", 7002, kDigest}};
    EXPECT_EQ(lookup::FormatAnswer(answer),
              "Length=1234\r\nSources=3\r\nMD5=0123456789ABCDEF0123456789ABCDEF\r\n\r\n"
              "http://m.example/a.pak\r\n"
              "http://127.0.0.1:7001/" +
                  kDigest +
                  "\tkind=peer\r\n"
                  "http://[::1]:7002/" +
                  kDigest + "\tkind=peer\r\n");
    EXPECT_EQ(lookup::FormatAnswer(lookup::FileAnswer{}), "Length=0\r\nSources=0\r\nMD5=\r\n\r\n");
}

TEST(LookupMirrors, FileFormAndRefusals) {
    lookup::MirrorList list;
    std::string reason;
    ASSERT_TRUE(
        list.Parse("# operator's mirrors\r\n\n"
                   "md5=" +
                       std::string(32, 'A') +
                       " length=10 url=http://a/x url=ftp://b/x\r\n"
                       "\tlength=5\turl=https://c/y  \n",
                   reason))
        << reason;
    ASSERT_EQ(list.size(), 2u);
    const lookup::MirroredFile* byMd5 = list.ByMd5(std::string(32, 'a'));
    ASSERT_TRUE(byMd5);
    EXPECT_EQ(byMd5->length, 10);
    EXPECT_EQ(byMd5->urls, (std::vector<std::string>{"http://a/x", "ftp://b/x"}));
    EXPECT_EQ(list.ByUrl("ftp://b/x"), byMd5);
    EXPECT_EQ(list.ByUrl("https://c/y") ? list.ByUrl("https://c/y")->md5 : "?", "");
    EXPECT_FALSE(list.ByUrl("http://a/"));
    EXPECT_FALSE(list.Parse("length=5 url=https://c/y # a comment after a field\n", reason));

    const struct {
        const char* text;
        const char* reason;
    } bad[] = {
        {"length=1 url=http://a/x\nlength=1\n",
         "line 2: a file needs length= and at least one url="},
        {"length=x url=http://a/x", "line 1: length is not a size up to 4 TiB"},
        {"length=1 url=file:///etc/passwd",
         "line 1: url is not an http, https or ftp URL without blanks"},
        {"length=1 url=http://a/x size=3", "line 1: unknown or repeated field \"size\""},
        {"md5=123 length=1 url=http://a/x", "line 1: unknown or repeated field \"md5\""},
        {"md5=00000000000000000000000000000000 length=1 url=http://a/x\n"
         "md5=00000000000000000000000000000000 length=1 url=http://b/x\n",
         "line 2: md5 listed twice"},
    };
    for (const auto& c : bad) {
        SCOPED_TRACE(c.text);
        EXPECT_FALSE(list.Parse(c.text, reason));
        EXPECT_EQ(reason, c.reason);
        EXPECT_EQ(list.size(), 2u);  // the list stays as it was
    }
}

}  // namespace
