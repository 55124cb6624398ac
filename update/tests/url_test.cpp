#include "update/url.h"

#include <gtest/gtest.h>

namespace {

TEST(SplitUrl, SchemesPortsAndObjects) {
    struct Case {
        const char* url;
        ServiceType type;
        const char* server;
        const char* object;
        uint16_t port;
    } cases[] = {
        {"http://patch.example.com/client/patchinfo.txt", ServiceType::Http, "patch.example.com",
         "/client/patchinfo.txt", 80},
        {"HTTPS://a.example:8443/x?y=1", ServiceType::Https, "a.example", "/x?y=1", 8443},
        {"ftp://user:pw@ftp.example/pub/", ServiceType::Ftp, "ftp.example", "/pub/", 21},
        {"http://host", ServiceType::Http, "host", "/", 80},
        {"http://host?q=1", ServiceType::Http, "host", "/?q=1", 80},
        {"gopher://g.example/1", ServiceType::Gopher, "g.example", "/1", 70},
        {"nntp://news.example/group", ServiceType::Nntp, "news.example", "/group", 119},
        {"file:///tmp/a.txt", ServiceType::File, "", "/tmp/a.txt", 0},
        {"telnet://t.example", ServiceType::Telnet, "t.example", "/", 23},
        {"http://[::1]:8080/p", ServiceType::Http, "[::1]", "/p", 8080},
        {"  http://host/p  ", ServiceType::Http, "host", "/p", 80},
    };
    for (const Case& c : cases) {
        UrlParts parts;
        ASSERT_TRUE(SplitUrl(c.url, parts)) << c.url;
        EXPECT_EQ(parts.type, c.type) << c.url;
        EXPECT_EQ(parts.server, c.server) << c.url;
        EXPECT_EQ(parts.object, c.object) << c.url;
        EXPECT_EQ(parts.port, c.port) << c.url;
    }
}

TEST(SplitUrl, RefusesUrlsWithoutSchemeServerOrValidPort) {
    for (const char* url :
         {"", "patch.example.com/a.zip", "/a/b", "xyz://host/a", "http:/host/a", "http:///a",
          "http://host:0/", "http://host:70000/", "http://host:8a/", "://host/"}) {
        UrlParts parts;
        parts.server = "stale";
        EXPECT_FALSE(SplitUrl(url, parts)) << url;
        EXPECT_EQ(parts.type, ServiceType::Unknown) << url;
        EXPECT_TRUE(parts.server.empty()) << url;
    }
}

TEST(RebuildUrl, OnABackupServerOnlyForKnownSchemes) {
    UrlParts parts;
    ASSERT_TRUE(SplitUrl("http://main.example:8080/patch/p1.zip", parts));
    const char* scheme = SchemeText(parts.type);
    ASSERT_NE(scheme, nullptr);
    EXPECT_EQ(RebuildUrl(scheme, "backup.example", parts.object),
              "http://backup.example/patch/p1.zip");

    EXPECT_STREQ(SchemeText(ServiceType::Https), "https");
    EXPECT_STREQ(SchemeText(ServiceType::Mailto), "mailto");
    EXPECT_STREQ(SchemeText(ServiceType::Nntp), "nntp");
    ASSERT_TRUE(SplitUrl("telnet://t.example/", parts));
    EXPECT_EQ(SchemeText(parts.type), nullptr);
    EXPECT_EQ(SchemeText(ServiceType::Unknown), nullptr);
}

TEST(EscapeUrl, KeepsOnlyTheSafeSet) {
    struct Case {
        std::string in;
        std::string out;
    } cases[] = {
        {"a/b c.txt", "a/b%20c.txt"},
        {"file_1.pak", "file%5F1.pak"},
        {"x-y", "x%2Dy"},
        {"Data\\a@b:c?d&e#f", "Data\\a@b:c?d&e#f"},
        {"100%=+", "100%25%3D%2B"},
        {"\xCA\xFD\x5C", "%CA%FD\\"},  // each byte of a GBK character, even a 0x5C trail
        {"", ""},
    };
    for (const Case& c : cases) EXPECT_EQ(EscapeUrl(c.in), c.out) << c.in;
}

TEST(NormalisePath, FlagsAndDoubleByteCharacters) {
    EXPECT_EQ(NormalisePath("Data\\Sub\\FILE.PAK", true, true), "data/sub/file.pak");
    EXPECT_EQ(NormalisePath("Data\\Sub", true, false), "data\\sub");
    EXPECT_EQ(NormalisePath("Data\\Sub", false, true), "Data/Sub");
    EXPECT_EQ(NormalisePath("Data\\Sub", false, false), "Data\\Sub");
    // "乗" is 0x81 0x5C and "丄" 0x81 0x41: neither trail byte is touched.
    EXPECT_EQ(NormalisePath("A\\\x81\x5C\\\x81\x41"
                            "B",
                            true, true),
              "a/\x81\x5C/\x81\x41"
              "b");
    // A lead byte at the very end is left alone.
    EXPECT_EQ(NormalisePath("A\x81", true, true), "a\x81");
}

}  // namespace
