#include "axp/updater.h"

#include <gtest/gtest.h>

#include <cstring>
#include <thread>

#include "axp/command_script.h"
#include "axp/error.h"
#include "axp/xor_key.h"
#include "package_util.h"

namespace AXP {
namespace {

using axp_test::MakePack;
using axp_test::PackEntry;
using axp_test::WritePackage;
using axp_test::ZipMember;
namespace fs = std::filesystem;

std::vector<std::string> g_progress;
void RecordProgress(const char* pack, const char* entry, uint32_t op) {
    g_progress.push_back(std::string(pack) + ":" + entry + ":" + std::to_string(op));
}

std::string Text(size_t n, uint32_t seed) {
    auto bytes = axp_test::TextBytes(n, seed);
    return std::string(bytes.begin(), bytes.end());
}

class UpdaterTest : public axp_test::TempDirTest,
                    public ::testing::WithParamInterface<PackageForm> {
  protected:
    void SetUp() override {
        TempDirTest::SetUp();
        g_progress.clear();
        client_ = Path("client");
        fs::create_directories(client_);
    }
    std::string Package(const std::string& name, const std::string& script,
                        const std::vector<ZipMember>& members,
                        PackageForm form = PackageForm::kScrambled) {
        const std::string path = Path(name);
        EXPECT_TRUE(WritePackage(path, form, script, members));
        return path;
    }
    PackEntry Entry(const std::string& pack, const std::string& name) {
        PackFile p;
        EXPECT_TRUE(p.Open(client_ + "/" + pack, true));
        PackEntry e;
        e.type = p.GetCompressType(name);
        e.unpackedSize = p.GetFileSize(name, false);
        if (!p.Exists(name)) return PackEntry{"<absent>", 0, 0};
        e.content.resize(e.unpackedSize);
        EXPECT_TRUE(p.ReadFileData(name, true, e.content.data(), e.unpackedSize));
        return e;
    }
    std::string FileText(const std::string& rel) {
        auto b = axp_test::ReadFileBytes(client_ + "/" + rel);
        return std::string(b.begin(), b.end());
    }
    std::string client_;
};

TEST(PackageForm, DetectedFromFirstBytesInTheDocumentedOrder) {
    uint8_t scrambled[8];
    const char zip[] = "PK\3\4abcd";
    std::memcpy(scrambled, zip, 8);
    XorWithKey(scrambled, 8, 0);
    uint8_t inverted[8];
    for (int i = 0; i < 8; ++i) inverted[i] = static_cast<uint8_t>(~zip[i]);
    struct Case {
        const void* bytes;
        size_t size;
        PackageForm form;
    } cases[] = {
        {zip, 8, PackageForm::kPlain},
        {scrambled, 8, PackageForm::kScrambled},
        {"JZQ1\0\0\0\0", 8, PackageForm::kSealed},
        {inverted, 8, PackageForm::kInverted},
        {zip, 4, PackageForm::kNone},
        {"JZQ2xxxx", 8, PackageForm::kNone},
        {nullptr, 0, PackageForm::kNone},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DetectPackageForm(c.bytes, c.size), c.form) << PackageFormName(c.form);
    }
}

TEST(CommandScript, LinesFieldsAndNames) {
    const auto commands = ParseCommandScript(
        "0|Data\\UI.pak|A\\B.TGA|2|0000ABCD\r\n\r\n"
        "1||Readme.TXT|0|00000000|extra|fields\n"
        "0|data/ui.pak|four.tga|3\r"  // four fields: ignored
        "x||bad-op.txt|0|00000001\n"
        "0|||0|00000000");
    ASSERT_EQ(commands.size(), 4u);
    EXPECT_EQ(commands[0].operation, kOpWrite);
    EXPECT_EQ(commands[0].packName, "data/ui.pak");
    EXPECT_EQ(commands[0].entryName, "a/b.tga");
    EXPECT_EQ(commands[0].compressType, 2u);
    EXPECT_EQ(commands[0].unpackedSize, 0xABCDu);
    EXPECT_EQ(commands[1].operation, kOpRemove);
    EXPECT_EQ(commands[1].packName, "");
    EXPECT_EQ(commands[1].entryName, "readme.txt");
    EXPECT_EQ(commands[2].operation, kOpUnknown);
    EXPECT_EQ(commands[3].entryName, "");
    EXPECT_EQ(FormatScriptLine(commands[0]), "0|data/ui.pak|a/b.tga|2|0000ABCD");
}

TEST(CommandScript, NamesThatLeaveTheDirectory) {
    for (const char* bad :
         {"", "/etc/passwd", "c:/windows/x.dll", "../x", "a/../../x", "a/..", "z:x"}) {
        EXPECT_FALSE(IsContainedName(bad)) << bad;
    }
    // "\x81\x5C" is one GBK character whose trail byte is the "\" byte, not a separator.
    for (const char* good :
         {"a", "a/b.txt", "..a/b", "a../b", "./a", "(list)", "\x81\x5C..", "1:/x"}) {
        EXPECT_TRUE(IsContainedName(good)) << good;
    }
}

// Pack writes (stored, LZO, LZMA, XOR) and removals, plain files in new folders, a plain
// removal and ".ver" last, in both accepted forms.
TEST_P(UpdaterTest, AppliesPackEntriesAndPlainFiles) {
    const std::string big = Text(300000, 1), lzo = Text(5000, 2), lzma = Text(7000, 3),
                      xorText = Text(900, 4);
    MakePack(client_ + "/data/ui.pak", {{"old.tga", {Text(4000, 5), 2, 4000}},
                                        {"keep.tga", {"keep", 0, 4}},
                                        {"big.dat", {Text(100, 6), 0, 100}}});
    axp_test::WriteFileBytes(client_ + "/gone.txt", {'x'});
    axp_test::WriteFileBytes(client_ + "/.ver", {'1'});
    std::map<std::string, PackEntry> target = {{"keep.tga", {"keep", 0, 4}},
                                               {"big.dat", {big, 0, 300000}},
                                               {"lzo.tga", {lzo, 2, 5000}},
                                               {"lzma.tga", {lzma, 3, 7000}},
                                               {"xor.tga", {xorText, 1, 900}}};
    const std::string list = axp_test::ListText(target);
    const bool sealed = GetParam() == PackageForm::kSealed;
    auto content = [&](const std::string& plain, uint8_t type) {
        return sealed ? plain : axp_test::Encode(plain, type);
    };
    char listSize[16];
    std::snprintf(listSize, sizeof(listSize), "%08X", static_cast<unsigned>(list.size()));
    const std::string script = std::string("0|data/ui.pak|(list)|0|") + listSize +
                               "\r\n"
                               "1|data/ui.pak|old.tga|0|00000000\r\n"
                               "0|data/UI.pak|big.dat|0|000493E0\r\n"
                               "0|data/ui.pak|lzo.tga|2|00001388\r\n"
                               "0|data/ui.pak|lzma.tga|3|00001B58\r\n"
                               "0|data/ui.pak|xor.tga|1|00000384\r\n"
                               "0||.ver|0|00000001\r\n"
                               "0||bin/new/tool.dll|0|00000003\r\n"
                               "1||gone.txt|0|00000000\r\n"
                               "1||never-there.txt|0|00000000\r\n";
    const std::string pkg = Package("p1.pkg", script,
                                    {{"(list)", list},
                                     {"big.dat", big},
                                     {"lzo.tga", content(lzo, 2)},
                                     {"lzma.tga", content(lzma, 3)},
                                     {"xor.tga", content(xorText, 1)},
                                     {".ver", "2"},
                                     {"bin/new/tool.dll", "dll"}},
                                    GetParam());
    Updater u;
    ASSERT_TRUE(u.AddPatchPackage(pkg, ".pak")) << GetLastErrorText();
    EXPECT_EQ(u.GetPendingCount(), 10u);
    ASSERT_TRUE(u.ApplyPatches(client_, ".pak", ".ver", RecordProgress)) << GetLastErrorText();

    bool consistent = false;
    auto got = axp_test::ReadPack(client_ + "/data/ui.pak", consistent);
    EXPECT_TRUE(consistent) << GetLastErrorText();
    got.erase("(list)");
    EXPECT_EQ(got, target);
    EXPECT_EQ(Entry("data/ui.pak", "old.tga").content, "<absent>");
    EXPECT_EQ(FileText("bin/new/tool.dll"), "dll");
    EXPECT_EQ(FileText(".ver"), "2");
    EXPECT_FALSE(fs::exists(client_ + "/gone.txt"));
    EXPECT_FALSE(fs::exists(client_ + "/bin/new/tool.dll.~part"));
    const std::vector<std::string> order = {"data/ui.pak:old.tga:1", "data/ui.pak:(list):0",
                                            "data/ui.pak:big.dat:0", "data/ui.pak:lzma.tga:0",
                                            "data/ui.pak:lzo.tga:0", "data/ui.pak:xor.tga:0",
                                            ":bin/new/tool.dll:0",   ":gone.txt:1",
                                            ":never-there.txt:1",    ":.ver:0"};
    EXPECT_EQ(g_progress, order);
}

INSTANTIATE_TEST_SUITE_P(Forms, UpdaterTest,
                         ::testing::Values(PackageForm::kScrambled, PackageForm::kSealed),
                         [](const auto& p) { return std::string(PackageFormName(p.param)); });

TEST_F(UpdaterTest, LaterPackagesWinAndAReplacedPackDropsItsPendingEntries) {
    MakePack(client_ + "/data/ui.pak", {{"a.tga", {"old", 0, 3}}});
    MakePack(client_ + "/data/other.pak", {{"x", {"x0", 0, 2}}});
    // A replacement pack with one entry, carried as a plain file.
    const std::string replacement = Path("replacement.pak");
    MakePack(replacement, {{"a.tga", {"whole", 0, 5}}});
    auto bytes = axp_test::ReadFileBytes(replacement);
    const std::string packBytes(bytes.begin(), bytes.end());

    const auto p1 = Package("p1.pkg",
                            "0|data/ui.pak|a.tga|0|00000002\n0|data/ui.pak|b.tga|0|00000002\n"
                            "0|data/other.pak|x|0|00000002\n",
                            {{"a.tga", "p1"}, {"b.tga", "p1"}, {"x", "p1"}});
    const auto p2 = Package("p2.pkg", "0||data/ui.pak|0|00000000\n0|data/other.pak|x|0|00000002\n",
                            {{"data/ui.pak", packBytes}, {"x", "p2"}}, PackageForm::kSealed);
    const auto p3 = Package("p3.pkg", "0|data/ui.pak|c.tga|0|00000002\n", {{"c.tga", "p3"}});
    Updater u;
    ASSERT_TRUE(u.AddPatchPackage(p1, ".pak"));
    EXPECT_EQ(u.GetPendingCount(), 3u);
    ASSERT_TRUE(u.AddPatchPackage(p2, ".pak"));
    EXPECT_EQ(u.GetPendingCount(), 2u);  // ui.pak's two entries dropped, x replaced
    ASSERT_TRUE(u.AddPatchPackage(p3, ".pak"));
    EXPECT_EQ(u.GetPendingCount(), 3u);
    ASSERT_TRUE(u.ApplyPatches(client_, ".pak", ".ver", nullptr)) << GetLastErrorText();
    EXPECT_EQ(Entry("data/ui.pak", "a.tga").content, "whole");
    EXPECT_EQ(Entry("data/ui.pak", "b.tga").content, "<absent>");
    EXPECT_EQ(Entry("data/ui.pak", "c.tga").content, "p3");
    EXPECT_EQ(Entry("data/other.pak", "x").content, "p2");
}

TEST_F(UpdaterTest, SamePackageAddedTwiceIsReadOnce) {
    fs::create_directories(Path("Dl"));
    const auto p = Package("Dl/P1.pkg", "0||a.txt|0|00000001\n", {{"a.txt", "a"}});
    Updater u;
    ASSERT_TRUE(u.AddPatchPackage(p, ".pak"));
    std::string other = Path("dl\\p1.PKG");
    ASSERT_TRUE(u.AddPatchPackage(other, ".pak"));
    EXPECT_EQ(u.GetPendingCount(), 1u);
}

TEST_F(UpdaterTest, RefusesOtherFormsAndReportsBadInput) {
    const auto plain = Package("plain.zip", "0||a|0|00000001\n", {{"a", "a"}}, PackageForm::kPlain);
    std::vector<uint8_t> bytes = axp_test::ReadFileBytes(plain);
    for (auto& b : bytes) b = static_cast<uint8_t>(~b);
    axp_test::WriteFileBytes(Path("inverted.pkg"), bytes);
    axp_test::WriteFileBytes(Path("junk.pkg"), {'J', 'Z', 'Q', '1', 9, 0, 0, 0, 1, 2, 3, 4, 5});
    Updater u;
    for (const std::string& p : {plain, Path("inverted.pkg"), Path("junk.pkg"), Path("missing")}) {
        EXPECT_FALSE(u.AddPatchPackage(p, ".pak")) << p;
        EXPECT_EQ(GetLastErrorCode(), kErrCorrupt) << p;
    }
    // A refused package is not remembered as added: it is refused again.
    EXPECT_FALSE(u.AddPatchPackage(plain, ".pak"));
    EXPECT_FALSE(u.AddPatchPackage("", ".pak"));
    EXPECT_EQ(GetLastErrorCode(), kErrInvalidArg);
    const auto noScript = Package("noscript.pkg", "", {});
    std::filesystem::resize_file(noScript, 0);
    EXPECT_FALSE(u.AddPatchPackage(noScript, ".pak"));
    EXPECT_FALSE(u.ApplyPatches("", ".pak", ".ver", nullptr));
    EXPECT_EQ(GetLastErrorCode(), kErrInvalidArg);

    // An unknown operation fails when applied.
    const auto unknown = Package("op.pkg", "7||a.txt|0|00000001\n", {{"a.txt", "a"}});
    ASSERT_TRUE(u.AddPatchPackage(unknown, ".pak"));
    EXPECT_FALSE(u.ApplyPatches(client_, ".pak", ".ver", nullptr));
    EXPECT_EQ(GetLastErrorCode(), kErrInvalidArg);
    EXPECT_FALSE(fs::exists(client_ + "/a.txt"));
}

TEST_F(UpdaterTest, HostileNamesLeaveTheFolderUntouched) {
    MakePack(client_ + "/data/ui.pak", {{"a.tga", {"old", 0, 3}}});
    axp_test::WriteFileBytes(client_ + "/.ver", {'1'});
    fs::create_directories(Path("outside"));
    const auto before = axp_test::Snapshot(dir_);
    const std::string outside = Path("outside/x.txt");
    const std::string lines[] = {
        "0||../outside/x.txt|0|00000001",        "0||" + outside + "|0|00000001",
        "0||..\\outside\\x.txt|0|00000001",      "0||c:\\windows\\x.txt|0|00000001",
        "0||bin/../../outside/x.txt|0|00000001", "1||../outside/x.txt|0|00000000",
        "0|../outside/ui.pak|a.tga|0|00000001",  "0|/tmp/ui.pak|a.tga|0|00000001",
        "0|d:ui.pak|a.tga|0|00000001",           "0|data/ui.pak||0|00000001",
    };
    for (const std::string& bad : lines) {
        // A sound line before the hostile one: nothing of the package may be applied.
        const auto p = Package(
            "bad.pkg", "0||.ver|0|00000001\r\n0|data/ui.pak|a.tga|0|00000001\r\n" + bad + "\r\n",
            {{".ver", "2"}, {"a.tga", "x"}, {"../outside/x.txt", "x"}});
        Updater u;
        EXPECT_FALSE(u.AddPatchPackage(p, ".pak")) << bad;
        EXPECT_EQ(GetLastErrorCode(), kErrInvalidArg) << bad;
        EXPECT_NE(GetLastErrorText().find("outside the installation directory"), std::string::npos);
        EXPECT_EQ(u.GetPendingCount(), 0u) << bad;
        EXPECT_TRUE(u.ApplyPatches(client_, ".pak", ".ver", nullptr));
        fs::remove(p);
        const auto after = axp_test::Snapshot(dir_);
        EXPECT_TRUE(after == before) << bad << "\n" << axp_test::Describe(before, after);
    }
}

// A member whose directory entry claims more bytes than it holds: no short file, no
// short entry; the target keeps its old content.
TEST_F(UpdaterTest, MemberShorterThanItsDirectoryEntryFails) {
    MakePack(client_ + "/data/ui.pak", {{"a.tga", {"old", 0, 3}}});
    axp_test::WriteFileBytes(client_ + "/a.txt", {'o', 'l', 'd'});
    const std::string content = Text(20000, 9);
    for (const std::string& script :
         {std::string("0||a.txt|0|00004E20\n"), std::string("0|data/ui.pak|a.txt|0|00004E20\n")}) {
        const auto plain = Package("p.zip", script, {{"a.txt", content}}, PackageForm::kPlain);
        auto bytes = axp_test::ReadFileBytes(plain);
        // The central directory record of "a.txt": its uncompressed size (offset 24) grows.
        size_t central = 0;
        for (size_t i = 0; i + 4 < bytes.size(); ++i) {
            if (std::memcmp(&bytes[i], "PK\1\2", 4) == 0) central = i;
        }
        ASSERT_GT(central, 0u);
        bytes[central + 24 + 2] ^= 0x01;  // + 64 KiB
        axp_test::WriteFileBytes(plain, bytes);
        ASSERT_TRUE(ScramblePackageFile(plain, Path("short.pkg")));
        Updater u;
        ASSERT_TRUE(u.AddPatchPackage(Path("short.pkg"), ".pak"));
        EXPECT_FALSE(u.ApplyPatches(client_, ".pak", ".ver", nullptr)) << script;
        EXPECT_EQ(GetLastErrorCode(), kErrZip) << GetLastErrorText();
        EXPECT_EQ(FileText("a.txt"), "old");
        EXPECT_FALSE(fs::exists(client_ + "/a.txt.~part"));
        EXPECT_EQ(Entry("data/ui.pak", "a.txt").content, "<absent>");
    }
}

TEST_F(UpdaterTest, VerifyComputeCrcAndTemporaryDirectory) {
    const auto p = Package("p.pkg", "0||a|0|00000001\n", {{"a", "a"}}, PackageForm::kSealed);
    const auto s = Package("s.pkg", "0||a|0|00000001\n", {{"a", "a"}});
    Updater u;
    EXPECT_TRUE(u.VerifyPackageFile(p));
    EXPECT_TRUE(u.VerifyPackageFile(s));
    auto bytes = axp_test::ReadFileBytes(p);
    bytes[10] ^= 1;
    axp_test::WriteFileBytes(Path("bad.pkg"), bytes);
    EXPECT_FALSE(u.VerifyPackageFile(Path("bad.pkg")));
    axp_test::WriteFileBytes(Path("tiny"), {1, 2, 3});
    EXPECT_FALSE(u.VerifyPackageFile(Path("tiny")));
    EXPECT_FALSE(u.VerifyPackageFile(""));
    EXPECT_EQ(GetLastErrorCode(), kErrInvalidArg);

    uint32_t crc = 0, tailCrc = 0;
    ASSERT_TRUE(u.ComputeFileCrc(Path("tiny"), crc, false));
    EXPECT_EQ(crc, Crc("\1\2\3", 3));
    ASSERT_TRUE(u.ComputeFileCrc(Path("tiny"), tailCrc, true) == false);
    EXPECT_FALSE(u.ComputeFileCrc(Path("missing"), crc, false));
    EXPECT_EQ(crc, 0xFFFFFFFFu);
    EXPECT_EQ(GetLastErrorCode(), kErrRead);

    EXPECT_FALSE(u.SetTempDirectory(Path("missing")));
    EXPECT_EQ(GetLastErrorCode(), kErrInvalidArg);
    fs::create_directories(Path("tmp"));
    ASSERT_TRUE(u.SetTempDirectory(Path("tmp")));
    EXPECT_FALSE(u.SetTempDirectory(Path("tmp")));
    EXPECT_EQ(GetLastErrorCode(), kErrAlreadySet);
    ASSERT_TRUE(u.AddPatchPackage(p, ".pak"));
    EXPECT_TRUE(fs::exists(Path("tmp/p.~patch")));
}

TEST_F(UpdaterTest, OwnTemporaryDirectoryGoesWithTheUpdater) {
    const auto p = Package("p.pkg", "0||a|0|00000001\n", {{"a", "a"}}, PackageForm::kSealed);
    std::string temp;
    {
        Updater u;
        ASSERT_TRUE(u.AddPatchPackage(p, ".pak"));
        temp = u.TempDirectory();
        EXPECT_NE(fs::path(temp).filename().string().rfind("axu", 0), std::string::npos);
        EXPECT_TRUE(fs::exists(temp + "/p.~patch"));
    }
    EXPECT_FALSE(fs::exists(temp));
}

// Two sealed packages of one file name from different folders decode to different files.
TEST_F(UpdaterTest, SealedPackagesOfTheSameNameKeepTheirOwnDecodedFiles) {
    fs::create_directories(Path("a"));
    fs::create_directories(Path("b"));
    const auto p1 =
        Package("a/patch.pkg", "0||one.txt|0|00000001\n", {{"one.txt", "1"}}, PackageForm::kSealed);
    const auto p2 =
        Package("b/patch.pkg", "0||two.txt|0|00000001\n", {{"two.txt", "2"}}, PackageForm::kSealed);
    Updater u;
    ASSERT_TRUE(u.AddPatchPackage(p1, ".pak"));
    ASSERT_TRUE(u.AddPatchPackage(p2, ".pak"));
    ASSERT_TRUE(u.ApplyPatches(client_, ".pak", ".ver", nullptr)) << GetLastErrorText();
    EXPECT_EQ(FileText("one.txt"), "1");
    EXPECT_EQ(FileText("two.txt"), "2");
}

TEST_F(UpdaterTest, ConvertPackageFormRoundTrip) {
    const auto plain =
        Package("p.zip", "0||a|0|00000001\n", {{"a", Text(50000, 3)}}, PackageForm::kPlain);
    const auto original = axp_test::ReadFileBytes(plain);
    Updater u;
    ASSERT_TRUE(u.ConvertPackageForm(plain, Path("sealed.pkg"))) << GetLastErrorText();
    EXPECT_EQ(DetectPackageFormOfFile(Path("sealed.pkg")), PackageForm::kSealed);
    EXPECT_TRUE(u.VerifyPackageFile(Path("sealed.pkg")));
    EXPECT_LT(fs::file_size(Path("sealed.pkg")), original.size());
    EXPECT_EQ(axp_test::ReadFileBytes(plain), original);  // the source is left alone
    // In place, under another spelling of the same path.
    ASSERT_TRUE(u.ConvertPackageForm(Path("sealed.pkg"), Path("./sealed.pkg")));
    EXPECT_EQ(axp_test::ReadFileBytes(Path("sealed.pkg")), original);
    const auto scrambled = Package("s.pkg", "0||a|0|00000001\n", {{"a", "a"}});
    EXPECT_FALSE(u.ConvertPackageForm(scrambled, Path("out.pkg")));
    EXPECT_EQ(GetLastErrorCode(), kErrCorrupt);
    EXPECT_FALSE(u.ConvertPackageForm("", Path("out.pkg")));
    EXPECT_EQ(GetLastErrorCode(), kErrInvalidArg);
    EXPECT_EQ(u.GetZipIo(plain), zzip_get_default_io());
    EXPECT_NE(u.GetZipIo(scrambled), nullptr);
    EXPECT_EQ(u.GetZipIo(Path("sealed.pkg")), zzip_get_default_io());
    EXPECT_EQ(u.GetZipIo(Path("missing")), nullptr);
}

TEST_F(UpdaterTest, CreateDirectoryChainMakesParentsFirst) {
    EXPECT_TRUE(CreateDirectoryChain(Path("x/y/z")));
    EXPECT_TRUE(fs::is_directory(Path("x/y/z")));
    EXPECT_TRUE(CreateDirectoryChain(Path("x/y")));
    axp_test::WriteFileBytes(Path("file"), {1});
    EXPECT_FALSE(CreateDirectoryChain(Path("file/sub")));
    EXPECT_FALSE(CreateDirectoryChain(""));
}

}  // namespace
}  // namespace AXP
