#include "platform/digest.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/hex_text.h"

namespace {

template <class Digest>
std::string Hex(const Digest& digest) {
    return platform::LowerHex(digest.data(), digest.size());
}

// Published test vectors; a stream fed in pieces, and used again after Finish, gives the
// same digests as the one-shot functions.
TEST(Digest, KnownVectorsWholeAndInPieces) {
    EXPECT_EQ(Hex(platform::Md5Of("")), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(Hex(platform::Md5Of("abc")), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(Hex(platform::Sha256Of("abc")),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");

    platform::Sha256Stream sha;
    platform::Md5Stream md5;
    for (int round = 0; round < 2; ++round) {
        for (const char* piece : {"a", "", "bc"}) {
            sha.Update(piece, std::char_traits<char>::length(piece));
            md5.Update(piece, std::char_traits<char>::length(piece));
        }
        EXPECT_EQ(sha.Finish(), platform::Sha256Of("abc")) << round;
        EXPECT_EQ(md5.Finish(), platform::Md5Of("abc")) << round;
    }
    sha.Update("x", 1);
    sha.Restart();
    EXPECT_EQ(sha.Finish(), platform::Sha256Of(""));
}

TEST(HexText, WrittenLowerReadInEitherCaseExactlyTwoDigitsPerByte) {
    const uint8_t bytes[] = {0x00, 0x9f, 0xA0, 0xff};
    EXPECT_EQ(platform::LowerHex(bytes, sizeof bytes), "009fa0ff");
    struct Case {
        const char* text;
        bool ok;
    } cases[] = {
        {"009fa0ff", true},   {"009FA0FF", true},  {"009fa0f", false},
        {"009fa0fff", false}, {"009fa0fg", false}, {"009fa0 f", false},
    };
    for (const Case& c : cases) {
        uint8_t out[4] = {};
        EXPECT_EQ(platform::ParseHex(c.text, out, sizeof out), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(platform::LowerHex(out, sizeof out), "009fa0ff") << c.text;
        }
    }
}

}  // namespace
