#include "update/version.h"

#include <gtest/gtest.h>

#include "update/position_key.h"

namespace {

TEST(ParseVersion, Forms) {
    struct Case {
        const char* text;
        const char* tag;
        const char* number;
    } cases[] = {
        {"cn.1.2", "CN", "00001.00002.00000"},
        {"CN.12.0.345", "CN", "00012.00000.00345"},
        {"1.2.3", "1", "00002.00003.00000"},
        {"CN..5", "CN", "00005.00000.00000"},
        {".CN.1.", "CN", "00001.00000.00000"},
        {"CN.1.2.3.4.5", "CN", "00001.00002.00003"},
        {"CN.1.2.3\n", "CN", "00001.00002.00003"},
        {"CN.7x.beta.", "CN", "00007.00000.00000"},
        {"", "0", "00000.00000.00000"},
        {"CN.100000.0", "CN", "100000.00000.00000"},
        {"CN.-5", "CN", "-0005.00000.00000"},
        {"CN.99999999999", "CN", "2147483647.00000.00000"},
    };
    for (const Case& c : cases) {
        VersionNumber v = ParseVersion(c.text);
        EXPECT_EQ(v.tag, c.tag) << c.text;
        EXPECT_EQ(v.number, c.number) << c.text;
    }
    EXPECT_EQ(ParseVersion(std::string(300, 'x') + ".1").tag.size(), kVersionTagMax);
}

TEST(CompareVersion, Table) {
    struct Case {
        const char* a;
        const char* b;
        CompareResult result;
    } cases[] = {
        {"CN.9.0", "cn.9.0.0", CompareResult::Same},
        {"CN.9.0", "KR.9.0", CompareResult::Incomparable},
        {"CN.10.0", "CN.9.99", CompareResult::Newer},
        {"CN.9.99", "CN.10.0", CompareResult::Older},
        {"CN.1.2.3", "CN.1.2.4", CompareResult::Older},
        {"CN.99999", "CN.100000", CompareResult::Older},  // beyond five digits, still numeric
        {"CN.-1", "CN.0", CompareResult::Older},
        {"CN.-1", "CN.-2", CompareResult::Newer},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CompareVersion(ParseVersion(c.a), ParseVersion(c.b)), c.result)
            << c.a << " vs " << c.b;
    }
    EXPECT_EQ(CompareVersion(VersionNumber{}, VersionNumber{}), CompareResult::Same);
    EXPECT_EQ(CompareVersion(VersionNumber{"CN", ""}, ParseVersion("CN.0")), CompareResult::Older);
}

TEST(PositionKey, KnownBitsAndSelfInverse) {
    EXPECT_EQ(PositionKey(0), 0x00);
    EXPECT_EQ(PositionKey(1), 0x10);
    EXPECT_EQ(PositionKey(2), 0x01);
    EXPECT_EQ(PositionKey(4), 0x04);
    EXPECT_EQ(PositionKey(0x100), 0x80);
    EXPECT_EQ(PositionKey(0x80), 0x20);
    EXPECT_EQ(PositionKey(0x40), 0x08);
    EXPECT_EQ(PositionKey(0x200), 0x02);
    EXPECT_EQ(PositionKey(0x400), 0x40);
    EXPECT_EQ(PositionKey(0x7FF), 0xFF);
    EXPECT_EQ(PositionKey(0x800), 0x00);  // bits above 10 play no part

    std::string data(3000, '\0');
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7);
    std::string scrambled = data;
    ScrambleBuffer(scrambled.data(), scrambled.size());
    EXPECT_NE(scrambled, data);
    // Unscrambling in two pieces, the second at its file position, restores the data.
    ScrambleBuffer(scrambled.data(), 1000);
    ScrambleBuffer(scrambled.data() + 1000, 2000, 1000);
    EXPECT_EQ(scrambled, data);
}

}  // namespace
