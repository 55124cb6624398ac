#include "update/release_trust.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <string>

#include "update/patch_info.h"
#include "update/sha256.h"
#include "update/signature.h"

namespace {

// The first test vector of RFC 8032: what any standard Ed25519 tool makes of this seed.
constexpr const char* kSeedHex = "9d61b19deffd5a60ba844af492ec2cc44449c5697b326919703bac031cae7f60";
constexpr const char* kPublicHex =
    "d75a980182b10ab7d54bfed3c964073a0ee172f3daa62325af021a68f707511a";
constexpr const char* kEmptyMessageSignature =
    "e5564300c360ac729086e2cc806e828a84877f1eb8e5d974d873e065224901555fb8821590a33bacc61e3970"
    "1cf9b46bd25bf5f0595bbe24655141438e7a100b";

TEST(Signature, StandardEd25519InTheFileForms) {
    SecretKey secret;
    PublicKey key;
    ASSERT_TRUE(ParseSecretKeyFile(std::string(kSeedHex) + "\n", secret, key));
    EXPECT_EQ(PublicKeyHex(key), kPublicHex);
    const Signature signature = SignMessage("", secret);
    EXPECT_EQ(SignatureFileText(signature), std::string(kEmptyMessageSignature) + "\n");

    PublicKey upper;
    std::string upperHex = kPublicHex;
    for (char& c : upperHex) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    ASSERT_TRUE(ParsePublicKeyHex(upperHex, upper));
    EXPECT_TRUE(VerifySignature("", signature, upper));
    EXPECT_EQ(SecretKeyFileText(secret), std::string(kSeedHex) + "\n");
}

TEST(Signature, FileFormsAcceptOneLineEndAndNothingElse) {
    struct Case {
        std::string text;
        bool accepted;
    } cases[] = {
        {kEmptyMessageSignature, true},
        {std::string(kEmptyMessageSignature) + "\n", true},
        {std::string(kEmptyMessageSignature) + "\r\n", true},
        {std::string(kEmptyMessageSignature) + "\n\n", false},
        {std::string(kEmptyMessageSignature) + " ", false},
        {std::string(kEmptyMessageSignature).substr(2), false},
        {std::string(kEmptyMessageSignature) + "00", false},
        {"zz" + std::string(kEmptyMessageSignature).substr(2), false},
        {"", false},
    };
    for (const Case& c : cases) {
        Signature signature;
        EXPECT_EQ(ParseSignatureFile(c.text, signature), c.accepted) << c.text;
    }
    PublicKey key;
    EXPECT_FALSE(ParsePublicKeyHex(std::string(kPublicHex) + "\n", key));  // a key is a value
    EXPECT_FALSE(ParsePublicKeyHex(std::string(kPublicHex).substr(1), key));
}

TEST(Signature, AnyChangeToMessageSignatureOrKeyIsRefused) {
    SecretKey secret;
    PublicKey key;
    ASSERT_TRUE(GenerateKeyPair(secret, key));
    const std::string message = "[latest]\r\nlatest=CN.1.0.2\r\nserial=7\r\n";
    const Signature signature = SignMessage(message, secret);
    EXPECT_TRUE(VerifySignature(message, signature, key));

    std::string changed = message;
    changed[12] ^= 0x01;
    EXPECT_FALSE(VerifySignature(changed, signature, key));
    EXPECT_FALSE(VerifySignature(message + "\r\n", signature, key));
    EXPECT_FALSE(VerifySignature(message.substr(1), signature, key));
    Signature flipped = signature;
    flipped.bytes[63] ^= 0x80;
    EXPECT_FALSE(VerifySignature(message, flipped, key));
    SecretKey otherSecret;
    PublicKey other;
    ASSERT_TRUE(GenerateKeyPair(otherSecret, other));
    EXPECT_FALSE(VerifySignature(message, signature, other));
    EXPECT_FALSE(VerifySignature(message, SignMessage(message, otherSecret), key));
}

// What other tools produce: the role's context text, for a server list its serial line,
// then the file's bytes, signed with plain Ed25519; and a file signed for one role is
// refused in every other.
TEST(Signature, BoundToTheFilesRole) {
    SecretKey secret;
    PublicKey key;
    ASSERT_TRUE(ParseSecretKeyFile(kSeedHex, secret, key));
    const std::string data = "SERVER_BEGIN\r\n1|east|127.0.0.1:9000\r\n";
    const std::string byHand =
        SignatureFileText(SignMessage("quillgate server list\n42\n" + data, secret)) + "42\n";
    EXPECT_EQ(SignatureFileFor(SignedRole::ServerList, data, secret, 42), byHand);
    uint64_t serial = 0;
    EXPECT_TRUE(SignatureTextVerifies(SignedRole::ServerList, data, byHand, key, &serial));
    EXPECT_EQ(serial, 42u);
    EXPECT_EQ(SignatureFileFor(SignedRole::PatchInfo, data, secret),
              SignatureFileText(SignMessage("quillgate patchinfo\n" + data, secret)));
    EXPECT_EQ(SignatureFileFor(SignedRole::RepairList, data, secret),
              SignatureFileText(SignMessage("quillgate repair list\n" + data, secret)));

    const SignedRole roles[] = {SignedRole::PatchInfo, SignedRole::ServerList,
                                SignedRole::RepairList};
    for (SignedRole made : roles)
        for (SignedRole checked : roles)
            EXPECT_EQ(
                SignatureTextVerifies(checked, data, SignatureFileFor(made, data, secret, 42), key),
                made == checked)
                << static_cast<int>(made) << " checked as " << static_cast<int>(checked);
    // The bare bytes, or a serial other than the signed one, are no signature.
    EXPECT_FALSE(SignatureTextVerifies(SignedRole::PatchInfo, data,
                                       SignatureFileText(SignMessage(data, secret)), key));
    std::string raised = byHand;
    raised.replace(raised.find('\n') + 1, std::string::npos, "43\n");
    EXPECT_FALSE(SignatureTextVerifies(SignedRole::ServerList, data, raised, key));
    EXPECT_EQ(SignatureTextSerial(raised), 43u);
    EXPECT_FALSE(SignatureTextVerifies(SignedRole::ServerList, data,
                                       byHand.substr(0, byHand.find('\n') + 1), key));
}

TEST(Sha256, KnownDigestsInOneGoAndInPieces) {
    EXPECT_EQ(DigestHex(Sha256Of("abc")),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(DigestHex(Sha256Of("")),
              "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    std::string data(100000, '\0');
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 31 + 7);
    // A stream restarted part-way (a download whose body began again) gives the digest of
    // what followed the restart.
    Sha256Stream stream;
    stream.Update("discarded", 9);
    stream.Restart();
    for (size_t at = 0; at < data.size(); at += 4093)
        stream.Update(data.data() + at, std::min<size_t>(4093, data.size() - at));
    EXPECT_EQ(stream.bytes(), data.size());
    EXPECT_EQ(stream.Finish(), Sha256Of(data));
    Sha256Digest parsed;
    ASSERT_TRUE(
        ParseDigestHex("BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD", parsed));
    EXPECT_EQ(parsed, Sha256Of("abc"));
}

TEST(PatchInfo, SignedKeysAreReadAndMalformedOnesHeldAsAbsent) {
    const std::string digest = DigestHex(Sha256Of("package"));
    const std::string text =
        "[latest]\r\nlatest=CN.1.0.2\r\nquillgate=CN.9\r\nnewquillgate=http://h/q.zip\r\n"
        "quillgatesize=12\r\nquillgatesha256=" +
        digest +
        "\r\nserial=1796921851\r\n"
        "[patch_1]\r\nfrom=CN.1.0.0\r\nto=CN.1.0.1\r\nurl=http://h/p1\r\nsize=7\r\n"
        "sha256=" +
        digest + "\r\nblockssha256=" + DigestHex(Sha256Of("list")) +
        "\r\n"
        "[patch_2]\r\nfrom=CN.1.0.1\r\nto=CN.1.0.2\r\nurl=http://h/p2\r\nsize=-7\r\n"
        "sha256=" +
        digest.substr(1) + "\r\nblockssha256=" + digest + "0" +
        "\r\n"
        "[patch_3]\r\nfrom=CN.1.0.0\r\nto=CN.1.0.2\r\nurl=http://h/p3\r\n"
        "size=99999999999999999999\r\n";
    PatchInfo info;
    ASSERT_TRUE(ParsePatchInfo(text, info));
    EXPECT_EQ(info.serial, 1796921851u);
    EXPECT_EQ(info.launcherArchive.size, 12u);
    EXPECT_TRUE(info.launcherArchive.complete());
    ASSERT_EQ(info.patches.size(), 3u);
    EXPECT_TRUE(info.patches[0].package.complete());
    EXPECT_TRUE(MatchesPublished(info.patches[0].package, 7, Sha256Of("package")));
    EXPECT_FALSE(MatchesPublished(info.patches[0].package, 8, Sha256Of("package")));
    EXPECT_FALSE(MatchesPublished(info.patches[0].package, 7, Sha256Of("packagf")));
    EXPECT_EQ(info.patches[0].blockListSha256, Sha256Of("list"));
    EXPECT_FALSE(info.patches[1].blockListSha256.has_value());
    EXPECT_FALSE(info.patches[2].blockListSha256.has_value());
    EXPECT_FALSE(info.patches[1].package.size.has_value());
    EXPECT_FALSE(info.patches[1].package.sha256.has_value());
    EXPECT_FALSE(info.patches[2].package.size.has_value());
    EXPECT_FALSE(MatchesPublished(info.patches[2].package, 0, Sha256Of("")));
}

TEST(SignatureUrl, SuffixGoesOnThePathBeforeAnyQuery) {
    EXPECT_EQ(SignatureUrl("http://h/patchinfo.txt"), "http://h/patchinfo.txt.sig");
    EXPECT_EQ(SignatureUrl("http://h/list.php?id=3"), "http://h/list.php.sig?id=3");
    EXPECT_EQ(SignatureUrl("http://h/a.txt#top"), "http://h/a.txt.sig#top");
}

}  // namespace
