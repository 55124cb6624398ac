#include "update/launcher_config.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "testing/temp_dir.h"
#include "update/position_key.h"

namespace {

namespace fs = std::filesystem;

// Runs each test inside an empty client directory.
class LauncherConfigTest : public ::testing::Test {
  protected:
    static void Write(const std::string& name, std::string bytes, bool scrambled = false) {
        if (scrambled) ScrambleBuffer(bytes.data(), bytes.size());
        testing_support::WriteFile(name, bytes);
    }
    testing_support::TempDir dir_{"qg_config"};
    testing_support::ScopedCurrentDir cwd_{dir_.path()};
};

const char* kConfig =
    "[quillgate]\r\n"
    "web=http://news.example/\r\n"
    "game=Bin\\game.exe\r\n"
    "verinfo=http://up.example/patchinfo.txt\r\n"
    "serverlist=http://up.example/server.lst\r\n"
    "repair=http://up.example/repair/\r\n"
    "bakserver=a;;b;\r\n"
    "betaversion=Yes\r\n"
    "[quillgate_TW]\r\n"
    "verinfo=http://tw.example/patchinfo.txt\r\n"
    "betaversion=on\r\n";

TEST_F(LauncherConfigTest, PlainScrambledAndBomFormsGiveTheSameSettings) {
    for (int form = 0; form < 3; ++form) {
        std::string text = kConfig;
        if (form == 2) text = "\xEF\xBB\xBF" + text;
        Write(kConfigFileName, text, form == 1);
        LauncherConfig c;
        ASSERT_TRUE(LoadLauncherConfig(kConfigFileName, c)) << form;
        EXPECT_EQ(c.configSection, "quillgate");
        EXPECT_EQ(c.webUrl, "http://news.example/");
        EXPECT_EQ(c.web2Url, "http://www.example.com/");
        EXPECT_EQ(c.gameExe, "Bin\\game.exe");
        EXPECT_EQ(c.verInfoUrl, "http://up.example/patchinfo.txt");
        EXPECT_EQ(c.homePageUrl, "");
        EXPECT_EQ(c.repairUrl, "http://up.example/repair/");
        EXPECT_EQ(c.backupServers, (std::vector<std::string>{"a", "b"}));
        EXPECT_TRUE(c.betaVersion);
        EXPECT_FALSE(c.quickStyle);
        EXPECT_EQ(c.patchInfoPath, "download\\patchinfo.txt");
        EXPECT_EQ(c.serverListPath, "download\\server.lst");
        EXPECT_TRUE(fs::is_directory("download"));
    }
}

TEST_F(LauncherConfigTest, EditionSectionTakesDefaultsNotTheMainSection) {
    Write(kConfigFileName, kConfig);
    std::string id = "TW";
    Write("ver.id", id, /*scrambled=*/true);
    LauncherConfig c;
    ASSERT_TRUE(LoadLauncherConfig(kConfigFileName, c));
    EXPECT_EQ(c.configSection, "quillgate_TW");
    EXPECT_EQ(c.editionId, "TW");
    EXPECT_EQ(c.verInfoUrl, "http://tw.example/patchinfo.txt");
    EXPECT_EQ(c.gameExe, "qadr.exe");  // not taken from [quillgate]
    EXPECT_TRUE(c.backupServers.empty());
    EXPECT_TRUE(c.betaVersion);
}

TEST_F(LauncherConfigTest, ValuesDefaultsAndBounds) {
    struct Case {
        std::string line;
        bool beta;
        std::string game;
    } cases[] = {
        {"betaversion=maybe\r\ngame=", false, "qadr.exe"},
        {"betaversion=ON\r\ngame=" + std::string(400, 'g'), true, std::string(259, 'g')},
        {"betaversion=off", false, "qadr.exe"},
        {"betaversion=1", true, "qadr.exe"},
    };
    for (const Case& k : cases) {
        Write(kConfigFileName, "[quillgate]\r\n" + k.line + "\r\n");
        LauncherConfig c;
        ASSERT_TRUE(LoadLauncherConfig(kConfigFileName, c)) << k.line;
        EXPECT_EQ(c.betaVersion, k.beta) << k.line;
        EXPECT_EQ(c.gameExe, k.game) << k.line;
    }
}

TEST_F(LauncherConfigTest, EngineKeysAndTheirDefaults) {
    Write(kConfigFileName, kConfig);
    LauncherConfig plain;
    ASSERT_TRUE(LoadLauncherConfig(kConfigFileName, plain));
    EXPECT_FALSE(plain.engine.enabled) << "an unconfigured launcher fetches over plain HTTP";
    EXPECT_EQ(plain.engine.lookupServer, "");

    struct Case {
        std::string lines;
        bool enabled, seed;
        uint32_t kib, connections;
    } cases[] = {
        {"engine=1\r\nlookup=lookup.example:7000\r\npeerlisten=0.0.0.0:7001\r\n"
         "uploadlimit=512\r\nuploadconnections=8",
         true, true, 512, 8},
        {"engine=yes\r\nseed=off\r\nuploadlimit=4294967295", true, false, 4294967295u, 0},
        {"engine=maybe\r\nuploadlimit=-5\r\nuploadconnections=4294967296", false, true, 0, 0},
        {"engine=on\r\nuploadlimit=1k\r\nuploadconnections=3x", true, true, 0, 0},
    };
    for (const Case& k : cases) {
        Write(kConfigFileName, "[quillgate]\r\n" + k.lines + "\r\n");
        LauncherConfig c;
        ASSERT_TRUE(LoadLauncherConfig(kConfigFileName, c)) << k.lines;
        EXPECT_EQ(c.engine.enabled, k.enabled) << k.lines;
        EXPECT_EQ(c.engine.seed, k.seed) << k.lines;
        EXPECT_EQ(c.engine.uploadKiBPerSecond, k.kib) << k.lines;
        EXPECT_EQ(c.engine.uploadConnections, k.connections) << k.lines;
    }
    Write(kConfigFileName, "[quillgate]\r\n" + cases[0].lines + "\r\n");
    LauncherConfig c;
    ASSERT_TRUE(LoadLauncherConfig(kConfigFileName, c));
    EXPECT_EQ(c.engine.lookupServer, "lookup.example:7000");
    EXPECT_EQ(c.engine.peerListen, "0.0.0.0:7001");
}

TEST_F(LauncherConfigTest, StyleIsReadEvenWhenTheConfigurationFails) {
    Write("style.cfg", "[Style]\r\nqstyle=1\r\n");
    LauncherConfig c;
    EXPECT_FALSE(LoadLauncherConfig(kConfigFileName, c));  // no quillgate.cfg
    EXPECT_TRUE(c.quickStyle);
}

TEST(SplitBackupServers, DropsEmptyPieces) {
    EXPECT_EQ(SplitBackupServers("a;;b;"), (std::vector<std::string>{"a", "b"}));
    EXPECT_TRUE(SplitBackupServers("").empty());
    EXPECT_TRUE(SplitBackupServers(";;").empty());
}

}  // namespace
