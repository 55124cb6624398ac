#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "testing/temp_dir.h"
#include "update/launcher_archive.h"
#include "update/position_key.h"
#include "update/server_list.h"

namespace {

using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

TEST(ServerList, PlainListsAreScrambledOthersKeptByteForByte) {
    TempDir dir("qg_server_list");
    const std::string downloaded = dir / "server.lst.new";
    const std::string path = dir / "server.lst";
    const std::string plain = std::string("SERVER_BEGIN\r\n1|east|10.0.0.1\r\n\0tail", 34);
    WriteFile(downloaded, plain);
    ASSERT_EQ(StoreServerList(downloaded, path), ServerListStore::Stored);
    EXPECT_FALSE(std::filesystem::exists(downloaded));
    std::string stored = ReadFile(path);
    ASSERT_EQ(stored.size(), plain.size());
    ScrambleBuffer(stored.data(), stored.size());
    EXPECT_EQ(stored, plain);

    // A list that arrived scrambled is kept byte for byte; a marker after a NUL byte
    // still counts, since the lists are searched as bytes.
    const std::string scrambledOnArrival = ReadFile(path);
    const std::string afterNul("x\0SERVER_BEGIN", 14);
    std::string afterNulScrambled = afterNul;
    ScrambleBuffer(afterNulScrambled.data(), afterNulScrambled.size());
    struct Case {
        std::string downloaded;
        std::string stored;
    } cases[] = {{scrambledOnArrival, scrambledOnArrival}, {afterNul, afterNulScrambled}};
    for (const Case& c : cases) {
        WriteFile(downloaded, c.downloaded);
        ASSERT_EQ(StoreServerList(downloaded, path), ServerListStore::Stored);
        EXPECT_EQ(ReadFile(path), c.stored);
    }
}

TEST(ServerList, AFailedStoreKeepsTheLastGoodList) {
    TempDir dir("qg_server_list");
    const std::string downloaded = dir / "server.lst.new";
    const std::string path = dir / "server.lst";
    WriteFile(path, "last good list");
    EXPECT_EQ(StoreServerList(dir / "missing.lst", path), ServerListStore::NoList);
    WriteFile(downloaded, "");
    EXPECT_EQ(StoreServerList(downloaded, path), ServerListStore::NoList)
        << "an empty answer is no list";
    // The list cannot be replaced: its replacement file is taken by a directory.
    std::filesystem::create_directories(dir / "server.lst.part/x");
    WriteFile(downloaded, "SERVER_BEGIN\r\n");
    EXPECT_EQ(StoreServerList(downloaded, path), ServerListStore::CannotWrite);
    EXPECT_EQ(ReadFile(path), "last good list");
}

class LauncherArchiveTest : public ::testing::Test {
  protected:
    // Zips `member` holding `content` with the zip tool ("-0" stores it as it is).
    std::string MakeZip(const std::string& name, const std::string& member,
                        const std::string& content, const std::string& level = "-9") {
        std::filesystem::create_directories(dir_.path() / "src");
        WriteFile(dir_ / ("src/" + member), content);
        const std::string zip = dir_ / name;
        const std::string cmd = "cd '" + (dir_ / "src") + "' && zip -q " + level + " '" + zip +
                                "' '" + member + "' && rm -f '" + member + "'";
        EXPECT_EQ(std::system(cmd.c_str()), 0);
        return zip;
    }
    TempDir dir_{"qg_archive"};
};

TEST_F(LauncherArchiveTest, ReadsTheMemberInAnyLetterCase) {
    std::string big(300000, '\0');
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>((i * 2654435761u) >> 13);
    struct Case {
        const char* member;
        ArchiveResult result;
    } cases[] = {
        {"quillgate.exe", ArchiveResult::Ok},
        {"QuillGate.EXE", ArchiveResult::Ok},
        {"other.exe", ArchiveResult::NoMember},
    };
    int n = 0;
    for (const Case& c : cases) {
        const std::string zip = MakeZip("a" + std::to_string(n++) + ".zip", c.member, big);
        std::string data;
        EXPECT_EQ(ReadArchiveMember(zip, "quillgate.exe", data), c.result) << c.member;
        EXPECT_EQ(data.size(), c.result == ArchiveResult::Ok ? big.size() : 0u) << c.member;
        EXPECT_TRUE(c.result != ArchiveResult::Ok || data == big) << c.member;
    }
}

TEST_F(LauncherArchiveTest, RefusesMissingBrokenAndDamagedArchives) {
    std::string data;
    EXPECT_EQ(ReadArchiveMember(dir_ / "none.zip", "quillgate.exe", data),
              ArchiveResult::CannotOpenArchive);
    WriteFile(dir_ / "text.zip", "not a zip at all");
    EXPECT_EQ(ReadArchiveMember(dir_ / "text.zip", "quillgate.exe", data),
              ArchiveResult::CannotOpenArchive);

    // Damage the compressed data in the middle of the member.
    std::string content(200000, 'q');
    for (size_t i = 0; i < content.size(); i += 7) content[i] = static_cast<char>(i);
    const std::string zip = MakeZip("damaged.zip", "quillgate.exe", content);
    std::string bytes = ReadFile(zip);
    for (size_t i = 200; i < 400; ++i) bytes[i] = static_cast<char>(~bytes[i]);
    WriteFile(zip, bytes);
    EXPECT_NE(ReadArchiveMember(zip, "quillgate.exe", data), ArchiveResult::Ok);
    EXPECT_TRUE(data.empty());

    // A stored member changed in place keeps every size: only its CRC-32 tells.
    const std::string stored = MakeZip("stored.zip", "quillgate.exe", content, "-0");
    bytes = ReadFile(stored);
    const size_t at = bytes.find(content.substr(1000, 64));
    ASSERT_NE(at, std::string::npos);
    bytes[at] = static_cast<char>(bytes[at] ^ 1);
    WriteFile(stored, bytes);
    EXPECT_EQ(ReadArchiveMember(stored, "quillgate.exe", data), ArchiveResult::ReadFailed);
    EXPECT_TRUE(data.empty());
}

}  // namespace
