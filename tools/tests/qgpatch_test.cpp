// qgpatch: the diff as a library (round trips through the Updater, package chains) and the
// built binary (QGPATCH_BINARY) end to end.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>

#include "axp/error.h"
#include "axp/updater.h"
#include "testing/package_builder.h"
#include "tools/qgpatch/client_diff.h"

namespace {

namespace fs = std::filesystem;
using axp_test::PackEntry;
using Entries = std::map<std::string, PackEntry>;

std::string Text(size_t n, uint32_t seed) {
    auto b = axp_test::TextBytes(n, seed);
    return std::string(b.begin(), b.end());
}
std::string Random(size_t n, uint32_t seed) {
    auto b = axp_test::RandomBytes(n, seed);
    return std::string(b.begin(), b.end());
}
PackEntry E(std::string content, uint8_t type) {
    const auto size = static_cast<uint32_t>(content.size());
    return PackEntry{std::move(content), type, size};
}

struct ClientVersion {
    std::map<std::string, Entries> packs;
    std::map<std::string, std::string> files;

    void Write(const fs::path& dir) const {
        fs::remove_all(dir);
        fs::create_directories(dir);
        for (const auto& [name, entries] : packs)
            axp_test::MakePack((dir / name).string(), entries);
        for (const auto& [name, data] : files) {
            fs::create_directories((dir / name).parent_path());
            axp_test::WriteFileBytes((dir / name).string(),
                                     std::vector<uint8_t>(data.begin(), data.end()));
        }
    }
};

// Four client versions; each step changes, adds and removes pack entries (types changing
// too), packs and loose files, and changes ".ver". Version 2 changes "shared.tga" in two
// packs to different content, so one of them must travel whole.
std::vector<ClientVersion> Versions() {
    ClientVersion v1;
    v1.packs["data/ui.pak"] = {{"a.tga", E(Text(3000, 1), 0)},
                               {"b.tga", E(Text(9000, 2), 2)},
                               {"c.tga", E(Text(5000, 3), 3)},
                               {"d.tga", E(Text(700, 4), 1)},
                               {"shared.tga", E("shared", 0)},
                               {"big.dat", E(Random(600000, 5), 0)},
                               {"ui/\xD6\xD0\xCE\xC4.txt", E("gbk name", 2)}};
    v1.packs["data/sound.pak"] = {{"shared.tga", E("shared", 0)},
                                  {"s1.wav", E(Random(20000, 6), 2)}};
    v1.packs["data/old.pak"] = {{"x", E("x", 0)}};
    v1.files = {{"readme.txt", "v1 readme"},
                {"bin/game.cfg", "cfg"},
                {"gone.txt", "bye"},
                {".ver", "1.0.0"}};
    ClientVersion v2 = v1;
    auto& ui = v2.packs["data/ui.pak"];
    ui["a.tga"] = E(Text(3100, 11), 0);
    ui["b.tga"] = E(Text(9000, 12), 3);  // new content and type
    ui["c.tga"] = E(Text(5000, 3), 2);   // same content, other type
    ui.erase("d.tga");
    ui["e.tga"] = E(Text(4000, 14), 1);
    ui["shared.tga"] = E("shared, ui", 0);
    v2.packs["data/sound.pak"]["shared.tga"] = E("shared, sound", 0);
    v2.packs.erase("data/old.pak");
    v2.packs["data/new.pak"] = {{"n1", E(Text(100, 15), 3)}};
    v2.files["readme.txt"] = "v2 readme";
    v2.files.erase("gone.txt");
    v2.files["bin/new/tool.dll"] = Random(5000, 16);
    v2.files[".ver"] = "2.0.0";
    ClientVersion v3 = v2;
    v3.packs["data/ui.pak"]["big.dat"] = E(Random(600000, 21), 0);
    v3.packs["data/new.pak"]["n2"] = E(Text(2000, 22), 2);
    v3.packs["data/ui.pak"].erase("a.tga");
    v3.files[".ver"] = "3.0.0";
    ClientVersion v4 = v3;
    v4.packs["data/ui.pak"]["a.tga"] = E(Text(100, 31), 3);  // back again
    v4.packs["data/sound.pak"].erase("s1.wav");
    v4.files.erase("bin/game.cfg");
    v4.files[".ver"] = "4.0.0";
    return {v1, v2, v3, v4};
}

class QgpatchTest : public axp_test::TempDirTest {
  protected:
    std::string Diff(const std::string& from, const std::string& to, AXP::PackageForm form,
                     const std::string& name) {
        qgpatch::PatchContent content;
        std::string error;
        EXPECT_TRUE(qgpatch::DiffClients(Path(from), Path(to), form == AXP::PackageForm::kScrambled,
                                         content, error))
            << error;
        EXPECT_TRUE(qgpatch::WritePatchPackage(Path(name), form, content))
            << AXP::GetLastErrorText();
        return Path(name);
    }
    void ExpectSameClient(const std::string& got, const std::string& want) {
        const auto a = axp_test::Snapshot(Path(got)), b = axp_test::Snapshot(Path(want));
        EXPECT_TRUE(a == b) << axp_test::Describe(a, b);
        EXPECT_TRUE(a.inconsistent.empty()) << a.inconsistent.front();
    }
};

TEST_F(QgpatchTest, DiffAppliedToOldGivesNewInBothForms) {
    const auto versions = Versions();
    versions[0].Write(Path("v1"));
    versions[1].Write(Path("v2"));
    for (auto form : {AXP::PackageForm::kScrambled, AXP::PackageForm::kSealed}) {
        SCOPED_TRACE(AXP::PackageFormName(form));
        const std::string pkg = Diff("v1", "v2", form, "p.pkg");
        fs::remove_all(Path("client"));
        fs::copy(Path("v1"), Path("client"), fs::copy_options::recursive);
        AXP::Updater u;
        ASSERT_TRUE(u.AddPatchPackage(pkg, ".pak")) << AXP::GetLastErrorText();
        ASSERT_TRUE(u.ApplyPatches(Path("client"), ".pak", ".ver", nullptr))
            << AXP::GetLastErrorText();
        ExpectSameClient("client", "v2");
    }
    // The same folders give an empty package.
    qgpatch::PatchContent none;
    std::string error;
    ASSERT_TRUE(qgpatch::DiffClients(Path("v2"), Path("v2"), true, none, error));
    EXPECT_TRUE(none.commands.empty());
}

TEST_F(QgpatchTest, ChainOfPackagesAppliedTogether) {
    const auto versions = Versions();
    for (size_t i = 0; i < versions.size(); ++i)
        versions[i].Write(Path("v" + std::to_string(i + 1)));
    fs::copy(Path("v1"), Path("client"), fs::copy_options::recursive);
    AXP::Updater u;
    for (int i = 1; i < 4; ++i) {
        const auto form = i % 2 ? AXP::PackageForm::kSealed : AXP::PackageForm::kScrambled;
        const std::string pkg = Diff("v" + std::to_string(i), "v" + std::to_string(i + 1), form,
                                     "p" + std::to_string(i) + ".pkg");
        ASSERT_TRUE(u.AddPatchPackage(pkg, ".pak")) << AXP::GetLastErrorText();
    }
    ASSERT_TRUE(u.ApplyPatches(Path("client"), ".pak", ".ver", nullptr)) << AXP::GetLastErrorText();
    ExpectSameClient("client", "v4");
}

// The binary: diff in each form, apply, show, verify, convert, and failures.
class QgpatchBinaryTest : public QgpatchTest {
  protected:
    int Run(const std::string& args, std::string* out = nullptr) {
        const std::string cmd =
            "cd '" + dir_.string() + "' && '" QGPATCH_BINARY "' " + args + " 2>stderr.txt";
        FILE* p = popen(cmd.c_str(), "r");
        std::string text;
        std::array<char, 4096> buf;
        size_t n;
        while ((n = fread(buf.data(), 1, buf.size(), p)) > 0) text.append(buf.data(), n);
        const int st = pclose(p);
        if (out) *out = text;
        auto e = axp_test::ReadFileBytes(Path("stderr.txt"));
        err_.assign(e.begin(), e.end());
        return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    }
    // Client folders v1 and v2 (the first two versions).
    void WriteV1AndV2() {
        const auto versions = Versions();
        versions[0].Write(Path("v1"));
        versions[1].Write(Path("v2"));
    }
    void ClientFromV1() {
        fs::remove_all(Path("client"));
        fs::copy(Path("v1"), Path("client"), fs::copy_options::recursive);
    }
    std::string err_;
};

TEST_F(QgpatchBinaryTest, DiffThenApplyReproducesTheNewClient) {
    WriteV1AndV2();
    for (const std::string form : {"scrambled", "sealed"}) {
        SCOPED_TRACE(form);
        ASSERT_EQ(Run("diff v1 v2 -o p.pkg --form " + form), 0) << err_;
        ClientFromV1();
        ASSERT_EQ(Run("apply p.pkg --dir client"), 0) << err_;
        EXPECT_NE(err_.find("remove data/ui.pak:d.tga"), std::string::npos) << err_;
        ExpectSameClient("client", "v2");

        std::string out;
        ASSERT_EQ(Run("verify p.pkg", &out), 0) << err_;
        ASSERT_EQ(Run("show p.pkg", &out), 0) << err_;
        EXPECT_NE(out.find("form: " + form), std::string::npos) << out;
        EXPECT_NE(out.find(": ok"), std::string::npos) << out;
        EXPECT_NE(out.find("1|data/ui.pak|d.tga|0|00000000"), std::string::npos) << out;
        EXPECT_NE(out.find("0||.ver|0|00000005"), std::string::npos) << out;
    }
    // sealed -> plain -> sealed; a plain zip is not applied.
    ASSERT_EQ(Run("convert p.pkg plain.zip"), 0) << err_;
    EXPECT_EQ(AXP::DetectPackageFormOfFile(Path("plain.zip")), AXP::PackageForm::kPlain);
    EXPECT_EQ(Run("apply plain.zip --dir client"), 1);
    EXPECT_NE(err_.find("error 2"), std::string::npos) << err_;
    ASSERT_EQ(Run("convert plain.zip again.pkg"), 0) << err_;
    EXPECT_EQ(Run("verify again.pkg"), 0) << err_;
}

TEST_F(QgpatchBinaryTest, BuildFromAScriptAndFailures) {
    fs::create_directories(Path("client"));
    fs::create_directories(Path("content/bin"));
    axp_test::WriteFileBytes(Path("content/bin/a.txt"), {'A'});
    axp_test::WriteFileBytes(
        Path("script.txt"),
        std::vector<uint8_t>({'0', '|', '|', 'B', 'i', 'n', '/', 'A', '.', 't', 'x',  't', '|',
                              '0', '|', '0', '0', '0', '0', '0', '0', '0', '1', '\r', '\n'}));
    ASSERT_EQ(Run("build script.txt content -o b.pkg --form scrambled"), 0) << err_;
    ASSERT_EQ(Run("apply b.pkg --dir client"), 0) << err_;
    EXPECT_EQ(axp_test::ReadFileBytes(Path("client/bin/a.txt")), std::vector<uint8_t>{'A'});

    axp_test::WriteFileBytes(Path("script.txt"), {'0', '|', '|', 'x', '|', '0', '|', '1'});
    EXPECT_EQ(Run("build script.txt content -o c.pkg"), 1);
    EXPECT_NE(err_.find("error 1"), std::string::npos) << err_;
    axp_test::WriteFileBytes(Path("bad.pkg"), {1, 2, 3, 4, 5, 6});
    EXPECT_EQ(Run("verify bad.pkg"), 1);
    EXPECT_NE(err_.find("error 2"), std::string::npos) << err_;
    EXPECT_EQ(Run("apply missing.pkg"), 1);
    EXPECT_EQ(Run("diff v1"), 2);
    EXPECT_EQ(Run("frobnicate"), 2);
}

// A package whose trailer does not match (one byte of it changed) is refused by apply as
// by verify, before anything of it or of the packages after it is applied.
TEST_F(QgpatchBinaryTest, ApplyRefusesAPackageWhoseTrailerIsWrong) {
    WriteV1AndV2();
    for (const std::string form : {"scrambled", "sealed"}) {
        SCOPED_TRACE(form);
        ASSERT_EQ(Run("diff v1 v2 -o p.pkg --form " + form), 0) << err_;
        auto bytes = axp_test::ReadFileBytes(Path("p.pkg"));
        bytes.back() ^= 0x01;
        axp_test::WriteFileBytes(Path("p.pkg"), bytes);
        EXPECT_EQ(Run("verify p.pkg"), 1);
        ClientFromV1();
        EXPECT_EQ(Run("apply p.pkg --dir client"), 1);
        EXPECT_NE(err_.find("error 2"), std::string::npos) << err_;
        ExpectSameClient("client", "v1");
    }
}

}  // namespace
