#include "axp/updater.h"

#include <gtest/gtest.h>

#include <cstring>
#include <thread>

#include "../src/package_zip.h"
#include "axp/command_script.h"
#include "axp/error.h"
#include "axp/format.h"
#include "axp/xor_key.h"
#include "platform/file_fault.h"
#include "testing/package_builder.h"

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

// Flips one byte in the middle of the stored data of zip member `name` (found through its
// local header); the zip's records, CRC-32 included, stay as they were.
void FlipMemberByte(std::vector<uint8_t>& zip, const std::string& name) {
    for (size_t i = 0; i + 30 < zip.size(); ++i) {
        if (std::memcmp(&zip[i], "PK\3\4", 4) != 0) continue;
        const uint32_t csize = LoadU32(&zip[i + 18]);
        const size_t nameLength = zip[i + 26] | zip[i + 27] << 8;
        const size_t extra = zip[i + 28] | zip[i + 29] << 8;
        if (std::string(reinterpret_cast<const char*>(&zip[i + 30]), nameLength) != name) continue;
        zip[i + 30 + nameLength + extra + csize / 2] ^= 0x20;
        return;
    }
    ADD_FAILURE() << "no member " << name;
}

// Writes `zip` (plain) in `form` with a sound trailer.
void Seal(const std::string& zip, const std::string& path, PackageForm form) {
    if (form == PackageForm::kScrambled) {
        ASSERT_TRUE(ScramblePackageFile(zip, path));
    } else {
        ASSERT_TRUE(Updater().ConvertPackageForm(zip, path));
    }
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

// A package added again under another spelling of its path (case, slashes, "./", "..", a
// link) is not read again: read again, it would win over the packages added after it.
TEST_F(UpdaterTest, SamePackageAddedTwiceIsReadOnce) {
    fs::create_directories(Path("Dl"));
    const auto p1 = Package("Dl/P1.pkg", "0||a.txt|0|00000001\n", {{"a.txt", "1"}});
    const auto p2 = Package("p2.pkg", "0||a.txt|0|00000001\n", {{"a.txt", "2"}});
    fs::create_symlink(p1, Path("link.pkg"));
    Updater u;
    ASSERT_TRUE(u.AddPatchPackage(p1, ".pak"));
    ASSERT_TRUE(u.AddPatchPackage(p2, ".pak"));
    for (const std::string& other :
         {Path("dl\\p1.PKG"), Path("Dl/./P1.pkg"), Path("Dl/../Dl/P1.pkg"), Path("link.pkg")}) {
        ASSERT_TRUE(u.AddPatchPackage(other, ".pak")) << other;
    }
    EXPECT_EQ(u.GetPendingCount(), 1u);
    ASSERT_TRUE(u.ApplyPatches(client_, ".pak", ".ver", nullptr)) << GetLastErrorText();
    EXPECT_EQ(FileText("a.txt"), "2");
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
}

// A script line the apply could not carry out refuses the whole package when it is added:
// applied, it would fail halfway with the lines before it done.
TEST_F(UpdaterTest, ScriptThatCannotBeCarriedOutRefusesThePackage) {
    MakePack(client_ + "/data/ui.pak", {{"a.tga", {"old", 0, 3}}});
    axp_test::WriteFileBytes(client_ + "/.ver", {'1'});
    const auto before = axp_test::Snapshot(client_);
    const struct {
        const char* line;
        uint32_t code;
    } cases[] = {
        {"7||a.txt|0|00000001", kErrInvalidArg},   // unknown operation
        {"0||a.txt|x|00000001", kErrInvalidArg},   // type not a number
        {"0||a.txt| 0|00000001", kErrInvalidArg},  // padded type
        {"0||a.txt||00000001", kErrInvalidArg},    // no type
        {"0||a.txt|0| 0000001", kErrInvalidArg},   // padded size
        {"0||a.txt|0|0000001 ", kErrInvalidArg},   // padded size
        {"0||a.txt|0|", kErrInvalidArg},           // no size
        {"0||a.txt|0|100000000", kErrInvalidArg},  // nine digits
        {"0||missing.txt|0|00000001", kErrZip},    // no member for a write
        {"0|data/ui.pak|a.txt|9|00000001", kErrUnknownCompress},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        const auto p = Package("bad.pkg",
                               "0||.ver|0|00000001\r\n0|data/ui.pak|a.tga|0|00000001\r\n" +
                                   std::string(c.line) + "\r\n",
                               {{".ver", "2"}, {"a.tga", "x"}, {"a.txt", "a"}});
        Updater u;
        EXPECT_FALSE(u.AddPatchPackage(p, ".pak"));
        EXPECT_EQ(GetLastErrorCode(), c.code) << GetLastErrorText();
        EXPECT_EQ(u.GetPendingCount(), 0u);
        EXPECT_TRUE(u.ApplyPatches(client_, ".pak", ".ver", nullptr));
        const auto after = axp_test::Snapshot(client_);
        EXPECT_TRUE(after == before) << axp_test::Describe(before, after);
    }
    // A removal needs no member.
    const auto removal = Package("rm.pkg", "1||gone.txt|0|00000000\r\n", {});
    Updater u;
    EXPECT_TRUE(u.AddPatchPackage(removal, ".pak")) << GetLastErrorText();
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

// A member whose directory record claims more bytes than it holds (a little more, or
// 4 GiB from a few compressed bytes, which must not size a buffer): the package is
// refused, no short file, no short entry; the target keeps its old content.
TEST_F(UpdaterTest, MemberShorterThanItsDirectoryEntryFails) {
    MakePack(client_ + "/data/ui.pak", {{"a.tga", {"old", 0, 3}}});
    axp_test::WriteFileBytes(client_ + "/a.txt", {'o', 'l', 'd'});
    const std::string content = Text(20000, 9);
    const struct {
        const char* script;
        const char* member;
        uint32_t claimed;
    } cases[] = {
        {"0||a.txt|0|00004E20\n", "a.txt", 20000 + 0x10000},
        {"0|data/ui.pak|a.txt|0|00004E20\n", "a.txt", 20000 + 0x10000},
        {"0||a.txt|0|00004E20\n", "(command)", 0xFFFFFF00u},
        {"0|data/ui.pak|a.txt|0|00004E20\n", "a.txt", 0xFFFFFF00u},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.script) + c.member + " " + std::to_string(c.claimed));
        const auto plain = Package("p.zip", c.script, {{"a.txt", content}}, PackageForm::kPlain);
        auto bytes = axp_test::ReadFileBytes(plain);
        // The member's central directory record: its uncompressed size (offset 24).
        bool found = false;
        for (size_t i = 0; i + 46 < bytes.size(); ++i) {
            if (std::memcmp(&bytes[i], "PK\1\2", 4) != 0) continue;
            const size_t nameLength = bytes[i + 28] | bytes[i + 29] << 8;
            if (std::string(reinterpret_cast<const char*>(&bytes[i + 46]), nameLength) != c.member)
                continue;
            StoreU32(&bytes[i + 24], c.claimed);
            found = true;
        }
        ASSERT_TRUE(found);
        axp_test::WriteFileBytes(plain, bytes);
        ASSERT_TRUE(ScramblePackageFile(plain, Path("short.pkg")));
        Updater u;
        EXPECT_FALSE(u.AddPatchPackage(Path("short.pkg"), ".pak"));
        EXPECT_EQ(GetLastErrorCode(), kErrZip) << GetLastErrorText();
        EXPECT_TRUE(u.ApplyPatches(client_, ".pak", ".ver", nullptr));
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
    // The zip reader of each form: the hooked one for scrambled bytes, none for no zip.
    const PackageZipIo io;
    EXPECT_EQ(io.For(DetectPackageFormOfFile(plain)), zzip_get_default_io());
    EXPECT_NE(io.For(DetectPackageFormOfFile(scrambled)), nullptr);
    EXPECT_EQ(io.For(DetectPackageFormOfFile(Path("sealed.pkg"))), zzip_get_default_io());
    EXPECT_EQ(io.For(DetectPackageFormOfFile(Path("missing"))), nullptr);
}

TEST_F(UpdaterTest, CreateDirectoryChainMakesParentsFirst) {
    EXPECT_TRUE(CreateDirectoryChain(Path("x/y/z")));
    EXPECT_TRUE(fs::is_directory(Path("x/y/z")));
    EXPECT_TRUE(CreateDirectoryChain(Path("x/y")));
    axp_test::WriteFileBytes(Path("file"), {1});
    EXPECT_FALSE(CreateDirectoryChain(Path("file/sub")));
    EXPECT_FALSE(CreateDirectoryChain(""));
}

// A member with one flipped byte in a package whose trailer was computed after the flip:
// the trailer passes, the member's CRC-32 does not, and nothing of the package is applied,
// not even the members before it (here a pack entry, a plain file and ".ver").
TEST_P(UpdaterTest, MemberFailingItsCrcRefusesTheWholePackage) {
    MakePack(client_ + "/data/a.pak", {{"x", {"old", 0, 3}}});
    MakePack(client_ + "/data/b.pak", {{"y", {"old", 0, 3}}});
    axp_test::WriteFileBytes(client_ + "/a.txt", {'o', 'l', 'd'});
    axp_test::WriteFileBytes(client_ + "/.ver", {'1'});
    const auto before = axp_test::Snapshot(client_);
    const std::string y = Text(3000, 7);
    for (bool deflate : {false, true}) {
        for (const char* member : {"y", "a.txt"}) {
            SCOPED_TRACE(std::string(member) + (deflate ? " deflated" : " stored"));
            const std::string zip = Path("p.zip");
            ASSERT_TRUE(WritePackage(zip, PackageForm::kPlain,
                                     "0|data/a.pak|x|0|00000003\n0|data/b.pak|y|0|00000BB8\n"
                                     "0||a.txt|0|00000BB8\n0||.ver|0|00000001\n",
                                     {{"x", "new"}, {"y", y}, {"a.txt", y}, {".ver", "2"}},
                                     deflate));
            auto bytes = axp_test::ReadFileBytes(zip);
            FlipMemberByte(bytes, member);
            axp_test::WriteFileBytes(zip, bytes);
            Seal(zip, Path("p.pkg"), GetParam());
            Updater u;
            ASSERT_TRUE(u.VerifyPackageFile(Path("p.pkg")));
            EXPECT_FALSE(u.AddPatchPackage(Path("p.pkg"), ".pak"));
            EXPECT_EQ(GetLastErrorCode(), kErrZip) << GetLastErrorText();
            EXPECT_NE(GetLastErrorText().find(member), std::string::npos) << GetLastErrorText();
            EXPECT_EQ(u.GetPendingCount(), 0u);
            if (!u.TempDirectory().empty()) {  // the decoded copy went with the package
                EXPECT_TRUE(fs::is_empty(u.TempDirectory()));
            }
            EXPECT_TRUE(u.ApplyPatches(client_, ".pak", ".ver", nullptr));
            const auto after = axp_test::Snapshot(client_);
            EXPECT_TRUE(after == before) << axp_test::Describe(before, after);
        }
    }
}

// The package file may change between AddPatchPackage and ApplyPatches: every member is
// checked again as it is extracted, before its target changes.
TEST_F(UpdaterTest, PackageDamagedAfterItWasAddedFailsBeforeTheTargetChanges) {
    const std::string content = Text(3000, 8);
    for (const char* member : {"y", "a.txt"}) {
        SCOPED_TRACE(member);
        MakePack(client_ + "/data/b.pak", {{"y", {"old", 0, 3}}});
        axp_test::WriteFileBytes(client_ + "/a.txt", {'o', 'l', 'd'});
        const std::string zip = Path("p.zip");
        ASSERT_TRUE(WritePackage(zip, PackageForm::kPlain,
                                 "0|data/b.pak|y|0|00000BB8\n0||a.txt|0|00000BB8\n",
                                 {{"y", content}, {"a.txt", content}}, false));
        Seal(zip, Path("p.pkg"), PackageForm::kScrambled);
        Updater u;
        ASSERT_TRUE(u.AddPatchPackage(Path("p.pkg"), ".pak")) << GetLastErrorText();
        auto bytes = axp_test::ReadFileBytes(zip);
        FlipMemberByte(bytes, member);
        axp_test::WriteFileBytes(zip, bytes);
        // Rewritten in place (same file, same length), as the open zip directory reads it.
        Seal(zip, Path("damaged.pkg"), PackageForm::kScrambled);
        axp_test::WriteFileBytes(Path("p.pkg"), axp_test::ReadFileBytes(Path("damaged.pkg")));
        EXPECT_FALSE(u.ApplyPatches(client_, ".pak", ".ver", nullptr));
        EXPECT_EQ(GetLastErrorCode(), kErrZip) << GetLastErrorText();
        EXPECT_EQ(Entry("data/b.pak", "y").content, std::string(member) == "y" ? "old" : content);
        EXPECT_EQ(FileText("a.txt"), "old");
        EXPECT_FALSE(fs::exists(client_ + "/a.txt.~part"));
    }
}

// A sealed package whose header claims more than its data can hold is refused before a
// byte is written or a buffer of that size is taken (a 205-byte package claiming 4 GiB);
// so is one whose header disagrees with its LZMA block.
TEST_F(UpdaterTest, SealedSizeItsDataCannotHoldIsRefusedBeforeWriting) {
    const auto sound = Package("s.pkg", "0||a|0|00000001\n", {{"a", "a"}}, PackageForm::kSealed);
    const auto original = axp_test::ReadFileBytes(sound);
    const uint32_t real = LoadU32(original.data() + 4);
    for (uint32_t claimed : {0xFFFFFFF0u, real + 1, real - 1}) {
        SCOPED_TRACE(claimed);
        fs::create_directories(Path("tmp"));  // each Updater deletes its temporary folder
        auto bytes = original;
        StoreU32(bytes.data() + 4, claimed);
        StoreU32(bytes.data() + bytes.size() - 4, Crc(bytes.data(), bytes.size() - 4));
        axp_test::WriteFileBytes(Path("bomb.pkg"), bytes);
        Updater u;
        ASSERT_TRUE(u.SetTempDirectory(Path("tmp")));
        ASSERT_TRUE(u.VerifyPackageFile(Path("bomb.pkg")));
        EXPECT_FALSE(u.AddPatchPackage(Path("bomb.pkg"), ".pak"));
        EXPECT_EQ(GetLastErrorCode(), kErrCorrupt) << GetLastErrorText();
        EXPECT_TRUE(fs::is_empty(Path("tmp")));
        EXPECT_FALSE(u.ConvertPackageForm(Path("bomb.pkg"), Path("bomb.zip")));
        EXPECT_EQ(GetLastErrorCode(), kErrCorrupt) << GetLastErrorText();
        EXPECT_FALSE(fs::exists(Path("bomb.zip.~part")));
    }
    // The codec manager's whole-file decode refuses it as well.
    ICompress* lzma = GetCompressManager().GetByType(3);
    EXPECT_FALSE(GetCompressManager().DecompressFile(lzma, sound, Path("out"), 8, 0xFFFFFFF0u));
    EXPECT_EQ(GetLastErrorCode(), kErrCorrupt);
    EXPECT_FALSE(fs::exists(Path("out")));
}

// A full disk while a sealed package is decoded or a member is written is error 12 naming
// errno 28, never "cannot be decoded" (which would make the launcher delete a sound
// package); the target keeps its old content and no side file stays behind.
TEST_F(UpdaterTest, FullDiskIsReportedAsAFullDisk) {
    const auto sealed =
        Package("p.pkg", "0||a.txt|0|00000001\n", {{"a.txt", "a"}}, PackageForm::kSealed);
    fs::create_directories(Path("tmp"));
    fs::create_symlink("/dev/full", Path("tmp/p.~patch.~part"));  // writes fail with ENOSPC
    {
        Updater u;
        ASSERT_TRUE(u.SetTempDirectory(Path("tmp")));
        EXPECT_FALSE(u.AddPatchPackage(sealed, ".pak"));
        EXPECT_EQ(GetLastErrorCode(), kErrNoSpace) << GetLastErrorText();
        EXPECT_NE(GetLastErrorText().find("errno=28"), std::string::npos) << GetLastErrorText();
        EXPECT_FALSE(fs::exists(Path("tmp/p.~patch")));
    }
    MakePack(client_ + "/data/ui.pak", {{"b", {"old", 0, 3}}});
    axp_test::WriteFileBytes(client_ + "/a.txt", {'o', 'l', 'd'});
    const auto before = axp_test::Snapshot(client_);
    for (const char* script : {"0||a.txt|0|00000001\n", "0|data/ui.pak|b|0|00000001\n"}) {
        SCOPED_TRACE(script);
        const auto p = Package("s.pkg", script, {{"a.txt", "a"}, {"b", "b"}});
        platform::FaultInjectingFileSystem faults;
        Updater u(&faults);
        ASSERT_TRUE(u.AddPatchPackage(p, ".pak"));
        faults.FailWriteNumber(1, 28);
        EXPECT_FALSE(u.ApplyPatches(client_, ".pak", ".ver", nullptr));
        EXPECT_EQ(GetLastErrorCode(), kErrNoSpace) << GetLastErrorText();
        EXPECT_NE(GetLastErrorText().find("errno=28"), std::string::npos) << GetLastErrorText();
        faults.FailWriteNumber(0);
        const auto after = axp_test::Snapshot(client_);
        EXPECT_TRUE(after == before) << axp_test::Describe(before, after);
    }
}

}  // namespace
}  // namespace AXP
