#include "platform/registry.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <functional>
#include <vector>

#include "platform/file_fault.h"
#include "testing/temp_dir.h"

namespace platform {
namespace {

using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

TEST(RegistryStore, RoundTripOfBothTypesAcrossStoresWithFoldedNames) {
    TempDir dir("qg_registry");
    const std::string path = dir / "deep/folder/registry";  // folders made on first write
    {
        RegistryStore store(path);
        ASSERT_TRUE(store.WriteString("Software\\velko\\firstrun", "Runed", "1"));
        ASSERT_TRUE(store.WriteDword("Software\\VELKO\\p4p", "IPCPort", 0xFFFFFFFFu));
        ASSERT_TRUE(store.WriteString("Software\\velko\\p2p", "LogFileName",
                                      std::string("a\nb\0c\xb2\xe2", 7)));
    }
    RegistryStore reopened(path);
    auto mark = reopened.Read("\\SOFTWARE\\Velko\\FirstRun\\", "runed");
    ASSERT_TRUE(mark);
    EXPECT_EQ(mark->type, RegistryType::String);
    EXPECT_EQ(mark->text, "1");
    auto port = reopened.Read("software\\velko\\P4P", "ipcport");
    ASSERT_TRUE(port);
    EXPECT_EQ(port->type, RegistryType::Dword);
    EXPECT_EQ(port->number, 0xFFFFFFFFu);
    EXPECT_EQ(reopened.Read("Software\\velko\\p2p", "LogFileName")->text,
              std::string("a\nb\0c\xb2\xe2", 7));
    EXPECT_FALSE(reopened.Read("Software\\velko", "Runed"));  // values belong to one key

    // A value changes type in place; deleting it makes it absent, twice is fine.
    ASSERT_TRUE(reopened.WriteDword("software\\velko\\firstrun", "RUNED", 1));
    EXPECT_EQ(reopened.Read("Software\\velko\\firstrun", "Runed")->type, RegistryType::Dword);
    ASSERT_TRUE(reopened.Delete("Software\\velko\\firstrun", "Runed"));
    ASSERT_TRUE(reopened.Delete("Software\\velko\\firstrun", "Runed"));
    EXPECT_FALSE(reopened.Read("Software\\velko\\firstrun", "Runed"));
    EXPECT_TRUE(reopened.Read("Software\\VELKO\\p4p", "IPCPort"));
}

TEST(RegistryStore, FailedWriteLeavesTheOldStore) {
    TempDir dir("qg_registry");
    const std::string path = dir / "registry";
    ASSERT_TRUE(RegistryStore(path).WriteString("Software\\velko\\firstrun", "Runed", "1"));
    const std::string before = ReadFile(path);

    FaultInjectingFileSystem faults;
    const std::vector<std::function<void()>> arms = {
        [&] { faults.FailWriteNumber(1); },
        [&] { faults.FailSyncs(5); },
        [&] { faults.FailRenameNumber(1); },
    };
    for (size_t row = 0; row < arms.size(); ++row) {
        RegistryStore store(path, faults);
        arms[row]();
        EXPECT_FALSE(store.WriteString("Software\\velko\\firstrun", "Runed", "2")) << row;
        arms[row]();
        EXPECT_FALSE(store.WriteDword("Software\\velko\\other", "Value", 7)) << row;
        faults.FailSyncs(0);
        EXPECT_EQ(ReadFile(path), before) << row;
        EXPECT_FALSE(std::filesystem::exists(path + ".part")) << row;
    }
    EXPECT_EQ(RegistryStore(path).Read("Software\\velko\\firstrun", "Runed")->text, "1");
}

TEST(RegistryStore, DamagedFileReadsAsAbsentAndIsReplacedByTheNextWrite) {
    TempDir dir("qg_registry");
    const std::string path = dir / "registry";
    ASSERT_TRUE(RegistryStore(path).WriteString("Software\\velko\\firstrun", "Runed", "1"));
    const std::string good = ReadFile(path);
    std::string flipped = good;
    flipped[flipped.find("Runed")] = 'X';

    const std::vector<std::string> damaged = {
        "",
        "garbage\n",
        good.substr(0, good.size() - 1),          // cut inside the trailer
        good.substr(0, good.size() / 2),          // cut inside a value
        flipped,                                  // checksum no longer matches
        "QGREG 1\ns 99999999999999999999 1 1\n",  // length beyond any number
        "QGREG 1\ns 4000000000 5 1\nabc",         // length beyond the file
        "QGREG 1\nd 1 1 11\nkn99999999999\nend 1 0000000000000000\n",
        std::string(2 << 20, 'Q'),  // larger than any store
    };
    for (const std::string& bytes : damaged) {
        WriteFile(path, bytes);
        RegistryStore store(path);
        EXPECT_FALSE(store.Read("Software\\velko\\firstrun", "Runed")) << bytes.substr(0, 40);
    }
    RegistryStore store(path);
    ASSERT_TRUE(store.WriteDword("Software\\velko\\p2p", "Size", 3));
    EXPECT_EQ(store.Read("Software\\velko\\p2p", "Size")->number, 3u);
}

TEST(RegistryFilePath, HivesFollowTheirVariablesThenTheUserFolders) {
    const char* oldHkcu = getenv("QG_REGISTRY_HKCU");
    const std::string savedHkcu = oldHkcu ? oldHkcu : "";
    const char* oldConfig = getenv("XDG_CONFIG_HOME");
    const std::string savedConfig = oldConfig ? oldConfig : "";

    setenv("QG_REGISTRY_HKCU", "/some/where/hkcu", 1);
    setenv("QG_REGISTRY_HKLM", "/some/where/hklm", 1);
    EXPECT_EQ(RegistryFilePath(RegistryHive::CurrentUser), "/some/where/hkcu");
    EXPECT_EQ(RegistryFilePath(RegistryHive::LocalMachine), "/some/where/hklm");
    unsetenv("QG_REGISTRY_HKCU");
    unsetenv("QG_REGISTRY_HKLM");
    setenv("XDG_CONFIG_HOME", "/cfg/", 1);
    EXPECT_EQ(RegistryFilePath(RegistryHive::CurrentUser), "/cfg/quillgate/registry");

    if (oldHkcu) setenv("QG_REGISTRY_HKCU", savedHkcu.c_str(), 1);
    if (oldConfig) {
        setenv("XDG_CONFIG_HOME", savedConfig.c_str(), 1);
    } else {
        unsetenv("XDG_CONFIG_HOME");
    }
}

}  // namespace
}  // namespace platform
