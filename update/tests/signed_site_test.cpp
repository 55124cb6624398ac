// A launcher that holds the operator's public key against a real signed site on
// 127.0.0.1: the genuine site updates the client, and every forgery of a file it fetches
// is refused with its message while nothing of it reaches the client or the launcher.
#include <gtest/gtest.h>

#include <cctype>
#include <functional>
#include <optional>

#include "update/message_table.h"
#include "update/release_trust.h"
#include "update/sha256.h"
#include "update/signature.h"
#include "update/tests/worker_site_fixture.h"

namespace {

using namespace worker_test;

constexpr uint64_t kSerial = 1000;
constexpr uint64_t kServerListSerial = 500;
constexpr const char* kOldLauncher = "old launcher";
constexpr const char* kOldServerList = "last good list";

class SignedSiteTest;

struct SignedCase {
    const char* name;
    // Runs after the genuine site is published and before the launcher runs.
    std::function<void(SignedSiteTest&)> tamper;
    int result;
    std::optional<MessageId> error;  // the one error shown; none for a clean run
    const char* version;             // the client's ".ver" afterwards
    bool launcherReplaced = false;
    bool serverListReplaced = true;
};

void PrintTo(const SignedCase& c, std::ostream* os) { *os << c.name; }

class SignedSiteTest : public WorkerSiteTest, public ::testing::WithParamInterface<SignedCase> {
  public:
    void SetUp() override {
        WorkerSiteTest::SetUp();
        ASSERT_TRUE(GenerateKeyPair(secret_, key_));
        WriteConfig("publickey=" + PublicKeyHex(key_) + "\r\n");
        WriteFile("quillgate.exe", kOldLauncher);
        fs::create_directories("download");
        WriteFile("download/server.lst", kOldServerList);
        MakePackage(site_ / "patch/p1.jzq",
                    Versioned({"0||readme.txt|0|00000002\r\n", {{"readme.txt", "v1"}}}, "CN.1.0.1"),
                    true);
        MakePackage(site_ / "patch/p2.pkg",
                    Versioned({"0||readme.txt|0|00000002\r\n", {{"readme.txt", "v2"}}}, "CN.1.0.2"),
                    false);
        PublishArchive(site_ / "quillgate.zip", "the published launcher archive");
        Publish();
    }

    // Writes and signs the patch information of what the site holds now, and signs the
    // server list.
    void Publish(const std::string& launcherVersion = "CN.9.0", uint64_t serial = kSerial) {
        std::string text = "[latest]\r\nlatest=CN.1.0.2\r\nquillgate=" + launcherVersion +
                           "\r\nnewquillgate=" + primary_.Url("/quillgate.zip") + "\r\n" +
                           Described("quillgate.zip", "quillgatesize", "quillgatesha256") +
                           "serial=" + std::to_string(serial) + "\r\n";
        text += PatchSection("patch_1", "CN.1.0.0", "CN.1.0.1", "p1.jzq") +
                Described("patch/p1.jzq", "size", "sha256");
        text += PatchSection("patch_2", "CN.1.0.1", "CN.1.0.2", "p2.pkg") +
                Described("patch/p2.pkg", "size", "sha256");
        WriteFile(site_ / "patchinfo.txt", text);
        Sign("patchinfo.txt", secret_);
        Sign("server.lst", secret_, SignedRole::ServerList, kServerListSerial);
    }

    std::string Described(const std::string& file, const char* sizeKey, const char* digestKey) {
        const std::string data = ReadFile(site_ / file);
        return std::string(sizeKey) + "=" + std::to_string(data.size()) + "\r\n" + digestKey + "=" +
               DigestHex(Sha256Of(data)) + "\r\n";
    }

    void Sign(const std::string& file, const SecretKey& secret,
              SignedRole role = SignedRole::PatchInfo, uint64_t serial = 0) {
        WriteFile(site_ / (file + ".sig"),
                  SignatureFileFor(role, ReadFile(site_ / file), secret, serial));
    }

    static void PublishArchive(const fs::path& path, const std::string& launcherImage) {
        AXP::ZipWriter zip;
        ASSERT_TRUE(zip.Create(path.string()));
        ASSERT_TRUE(zip.Add("quillgate.exe", launcherImage.data(), launcherImage.size(), true));
        ASSERT_TRUE(zip.Finish());
    }

    static void FlipByte(const fs::path& path, size_t offset) {
        std::string data = ReadFile(path);
        data[offset] = static_cast<char>(data[offset] ^ 0x01);
        WriteFile(path, data);
    }

    SecretKey secret_;
    PublicKey key_;
};

TEST_P(SignedSiteTest, OnlyWhatTheOperatorPublishedIsUsed) {
    const SignedCase& c = GetParam();
    c.tamper(*this);
    EXPECT_EQ(Run(), c.result);

    const std::vector<std::string> errors = recorder_.Texts(WM_LAUNCH_ERROR);
    if (c.error) {
        ASSERT_EQ(errors.size(), 1u);
        const std::string format = GetMessageText(*c.error);
        const std::string start = format.substr(0, format.find('%'));
        EXPECT_EQ(errors[0].substr(0, start.size()), start) << errors[0];
    } else {
        EXPECT_TRUE(errors.empty()) << errors[0];
    }
    EXPECT_EQ(ReadFile(".ver"), c.version);
    EXPECT_EQ(fs::exists("readme.txt"), std::string(c.version) != "CN.1.0.0|first release\r\n");
    EXPECT_EQ(ReadFile("quillgate.exe") != kOldLauncher, c.launcherReplaced);
    EXPECT_EQ(ReadFile("download/server.lst") != kOldServerList, c.serverListReplaced);
    // No file whose check failed stays behind to be taken for a good one.
    for (const char* leftover : {"download/patchinfo.txt", "download/patchinfo.txt.sig",
                                 "download/server.lst.new", "download/server.lst.new.sig"})
        EXPECT_FALSE(fs::exists(leftover)) << leftover;
}

const char* const kBefore = "CN.1.0.0|first release\r\n";
const char* const kAfter = "CN.1.0.2";

const SignedCase kCases[] = {
    {"genuine signed site", [](SignedSiteTest&) {}, kResultUpToDate, std::nullopt, kAfter},
    {"package changed by one byte after signing",
     [](SignedSiteTest& t) { t.FlipByte(t.site_ / "patch/p2.pkg", 100); }, kResultFailed,
     MessageId::kPackageRefused, kBefore, false, false},
    {"package replaced by another validly built package",
     [](SignedSiteTest& t) {
         t.MakePackage(
             t.site_ / "patch/p2.pkg",
             Versioned({"0||evil.txt|0|00000004\r\n", {{"evil.txt", "evil"}}}, "CN.1.0.2"), false);
     },
     kResultFailed, MessageId::kPackageRefused, kBefore, false, false},
    {"cached package that is not the published one is fetched again",
     [](SignedSiteTest& t) {
         t.MakePackage(
             t.Cached("CN.1.0.0", "CN.1.0.1", "p1.jzq"),
             Versioned({"0||readme.txt|0|00000004\r\n", {{"readme.txt", "evil"}}}, "CN.1.0.1"),
             true);
     },
     kResultUpToDate, std::nullopt, kAfter},
    {"launcher archive swapped for a working launcher",
     [](SignedSiteTest& t) {
         t.Publish("CN.9.1", kSerial);
         t.PublishArchive(t.site_ / "quillgate.zip", ReadFile(QG_NEXT_LAUNCHER_BINARY));
     },
     kResultUpToDate, MessageId::kPatchFileBad, kAfter},
    {"signed launcher archive replaces the launcher",
     [](SignedSiteTest& t) {
         t.PublishArchive(t.site_ / "quillgate.zip", ReadFile(QG_NEXT_LAUNCHER_BINARY));
         t.Publish("CN.9.1", kSerial);
     },
     kResultLauncherReplaced, std::nullopt, kBefore, true, false},
    {"patch information edited after signing",
     [](SignedSiteTest& t) {
         WriteFile(t.site_ / "patchinfo.txt", ReadFile(t.site_ / "patchinfo.txt") + "\r\n");
     },
     kResultFailed, MessageId::kPatchInfoBad, kBefore, false, false},
    {"signature from another key",
     [](SignedSiteTest& t) {
         SecretKey other;
         PublicKey otherPublic;
         ASSERT_TRUE(GenerateKeyPair(other, otherPublic));
         t.Sign("patchinfo.txt", other);
     },
     kResultFailed, MessageId::kPatchInfoBad, kBefore, false, false},
    {"missing signature", [](SignedSiteTest& t) { fs::remove(t.site_ / "patchinfo.txt.sig"); },
     kResultFailed, MessageId::kPatchInfoBad, kBefore, false, false},
    {"forged patch information on the primary, genuine on the backup",
     [](SignedSiteTest& t) {
         fs::copy(t.site_ / "patchinfo.txt", t.backup_ / "patchinfo.txt");
         fs::copy(t.site_ / "patchinfo.txt.sig", t.backup_ / "patchinfo.txt.sig");
         WriteFile(t.site_ / "patchinfo.txt", ReadFile(t.site_ / "patchinfo.txt") + "x");
     },
     kResultUpToDate, std::nullopt, kAfter},
    {"replayed older release (the client saw a newer serial)",
     [](SignedSiteTest&) { WriteFile(kSeenSerialFile, std::to_string(kSerial + 1) + "\r\n"); },
     kResultFailed, MessageId::kPatchInfoBad, kBefore, false, false},
    {"signed patch information served as the server list",
     [](SignedSiteTest& t) {
         fs::copy_file(t.site_ / "patchinfo.txt", t.site_ / "server.lst",
                       fs::copy_options::overwrite_existing);
         fs::copy_file(t.site_ / "patchinfo.txt.sig", t.site_ / "server.lst.sig",
                       fs::copy_options::overwrite_existing);
     },
     kResultFailed, MessageId::kServerListUnavailable, kAfter, false, false},
    {"server list signed without its context (the bare bytes)",
     [](SignedSiteTest& t) {
         WriteFile(t.site_ / "server.lst.sig",
                   SignatureFileText(SignMessage(ReadFile(t.site_ / "server.lst"), t.secret_)) +
                       std::to_string(kServerListSerial) + "\n");
     },
     kResultFailed, MessageId::kServerListUnavailable, kAfter, false, false},
    {"server list whose serial was raised after signing",
     [](SignedSiteTest& t) {
         std::string sig = ReadFile(t.site_ / "server.lst.sig");
         sig.replace(sig.find('\n') + 1, std::string::npos, "501\n");
         WriteFile(t.site_ / "server.lst.sig", sig);
     },
     kResultFailed, MessageId::kServerListUnavailable, kAfter, false, false},
    {"replayed older server list (the client saw a newer serial)",
     [](SignedSiteTest&) {
         WriteFile(kSeenServerListSerialFile, std::to_string(kServerListSerial + 1) + "\r\n");
     },
     kResultFailed, MessageId::kServerListUnavailable, kAfter, false, false},
    {"patch information signed as a server list",
     [](SignedSiteTest& t) { t.Sign("patchinfo.txt", t.secret_, SignedRole::ServerList, kSerial); },
     kResultFailed, MessageId::kPatchInfoBad, kBefore, false, false},
    {"server list changed after signing",
     [](SignedSiteTest& t) {
         WriteFile(t.site_ / "server.lst", "SERVER_BEGIN\r\n1|evil|203.0.113.9:9000\r\n");
     },
     kResultFailed, MessageId::kServerListUnavailable, kAfter, false, false},
    {"publickey that is not a key",
     [](SignedSiteTest& t) { t.WriteConfig("publickey=" + std::string(63, 'a') + "\r\n"); },
     kResultFailed, MessageId::kConfigBad, kBefore, false, false},
};

INSTANTIATE_TEST_SUITE_P(Table, SignedSiteTest, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<SignedCase>& param) {
                             std::string name;
                             for (const char* p = param.param.name; *p; ++p)
                                 if (std::isalnum(static_cast<unsigned char>(*p))) name += *p;
                             return name;
                         });

// The serials of a verified release and server list are kept, so that older ones are
// refused later.
TEST_F(WorkerSiteTest, SignedRunKeepsTheNewestSerial) {
    SecretKey secret;
    PublicKey key;
    ASSERT_TRUE(GenerateKeyPair(secret, key));
    WriteConfig("publickey=" + PublicKeyHex(key) + "\r\n");
    WriteFile(site_ / "patchinfo.txt",
              "[latest]\r\nlatest=CN.1.0.0\r\nquillgate=CN.9.0\r\n"
              "newquillgate=" +
                  primary_.Url("/quillgate.zip") + "\r\nserial=77\r\n");
    WriteFile(site_ / "patchinfo.txt.sig",
              SignatureFileFor(SignedRole::PatchInfo, ReadFile(site_ / "patchinfo.txt"), secret));
    WriteFile(site_ / "server.lst.sig",
              SignatureFileFor(SignedRole::ServerList, ReadFile(site_ / "server.lst"), secret, 9));
    WriteFile(kSeenSerialFile, "70\r\n");
    WriteFile(kSeenServerListSerialFile, "8\r\n");
    EXPECT_EQ(Run(), kResultUpToDate);
    EXPECT_EQ(ReadSeenSerial(), 77u);
    EXPECT_EQ(ReadSeenSerial(kSeenServerListSerialFile), 9u);
}

}  // namespace
