#include "platform/ip_address.h"

#include <gtest/gtest.h>

namespace {

TEST(IpAddress, CanonicalTextsAndRefusals) {
    const struct {
        const char* text;
        const char* canonical;  // "" when refused
    } cases[] = {
        {"127.0.0.1", "127.0.0.1"},
        {"::1", "::1"},
        {"0:0:0:0:0:0:0:1", "::1"},
        {"::ffff:10.1.2.3", "10.1.2.3"},
        {"FE80::1", "fe80::1"},
        {"127.0.0.1 ", ""},
        {"127.1", ""},
        {"localhost", ""},
        {"[::1]", ""},
        {"1.2.3.4:80", ""},
        {"", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const auto got = platform::CanonicalIpAddress(c.text);
        EXPECT_EQ(got.value_or(""), c.canonical);
    }
}

TEST(IpAddress, HostPortAndBindAddress) {
    const struct {
        const char* text;
        const char* address;  // "" when refused
        uint16_t port;
    } cases[] = {
        {"127.0.0.1:8080", "127.0.0.1", 8080},
        {"0.0.0.0:0", "0.0.0.0", 0},
        {"[::1]:65535", "::1", 65535},
        {"::1:80", "", 0},
        {"127.0.0.1:65536", "", 0},
        {"127.0.0.1:", "", 0},
        {"127.0.0.1:8x", "", 0},
        {"[127.0.0.1]:80", "", 0},
        {"host:80", "", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const auto got = platform::ParseIpPort(c.text);
        ASSERT_EQ(got.has_value(), *c.address != 0);
        if (!got) continue;
        EXPECT_EQ(got->address, c.address);
        EXPECT_EQ(got->port, c.port);
        const auto bind = platform::MakeBindAddress(got->address, got->port);
        ASSERT_TRUE(bind);
        EXPECT_EQ(platform::SocketAddressText(bind->data()), c.address);
        EXPECT_EQ(bind->ipv6, std::string(c.address).find(':') != std::string::npos);
    }
    EXPECT_EQ(platform::UrlHost("::1"), "[::1]");
    EXPECT_EQ(platform::UrlHost("127.0.0.1"), "127.0.0.1");
}

}  // namespace
