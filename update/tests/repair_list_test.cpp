#include "update/repair_list.h"

#include <gtest/gtest.h>

namespace {

constexpr const char* kHeader = "current|1\r\n";

RepairListResult Parse(const std::string& body, RepairList& list) {
    return ParseRepairList(kHeader + body, list);
}

TEST(RepairList, ReadsLooseFilesAndPackEntries) {
    RepairList list;
    ASSERT_EQ(Parse("Bin\\a.dll|00000010|DEADBEEF|0|\r\n"
                    "models/x.mdl|0000000A|0000abcd|3|Data\\Models.PAK\r\n"
                    "empty.txt|00000000|00000000||\n",
                    list),
              RepairListResult::Ok);
    ASSERT_EQ(list.looseFiles.size(), 2u);
    EXPECT_EQ(list.looseFiles[0].path, "Bin\\a.dll");
    EXPECT_EQ(list.looseFiles[0].size, 0x10u);
    EXPECT_EQ(list.looseFiles[0].crc, 0xDEADBEEFu);
    ASSERT_EQ(list.packFiles.count("data/models.pak"), 1u);
    const RepairEntry& packed = list.packFiles["data/models.pak"][0];
    EXPECT_EQ(packed.path, "models/x.mdl");
    EXPECT_EQ(packed.crc, 0xABCDu);
    EXPECT_EQ(packed.compressType, 3);
    EXPECT_EQ(list.entryCount, 3u);
    EXPECT_EQ(list.totalVolume, 0x1Au);
}

TEST(RepairList, VolumesAddUpPastFourGiB) {
    RepairList list;
    ASSERT_EQ(Parse("a.dat|FFFFFFFF|00000000|0|\r\nb.dat|FFFFFFFF|00000000|0|\r\n", list),
              RepairListResult::Ok);
    EXPECT_EQ(list.totalVolume, 2ull * 0xFFFFFFFFull);
}

TEST(RepairList, RefusesLinesOfAnotherShape) {
    const char* cases[] = {
        "a.dat|00000001|00000000|0\r\n",     // four fields
        "a.dat|00000001|00000000|0||x\r\n",  // six fields
        "a.dat|1G|00000000|0|\r\n",          // size not hexadecimal
        "a.dat|000000001|00000000|0|\r\n",   // more than eight digits
        "a.dat||00000000|0|\r\n",            // no size
    };
    for (const char* body : cases) {
        RepairList list;
        EXPECT_EQ(Parse(body, list), RepairListResult::Malformed) << body;
        EXPECT_EQ(list.entryCount, 0u) << body;
    }
    RepairList list;
    EXPECT_EQ(ParseRepairList("only-one-field\r\n", list), RepairListResult::Malformed);
    EXPECT_EQ(ParseRepairList("", list), RepairListResult::Malformed);
    EXPECT_EQ(Parse(std::string(kRepairListMaxLine, 'x') + "|1|1|0|\r\n", list),
              RepairListResult::Malformed);
}

TEST(RepairList, RefusesNamesOutsideTheClientFolder) {
    const char* cases[] = {
        "/etc/passwd|00000001|00000000|0|\r\n",    "\\Windows\\x.dll|00000001|00000000|0|\r\n",
        "C:x.dll|00000001|00000000|0|\r\n",        "data/../../x|00000001|00000000|0|\r\n",
        "..\\x|00000001|00000000|0|\r\n",          "|00000001|00000000|0|\r\n",
        "a\tb|00000001|00000000|0|\r\n",           "x|00000001|00000000|0|../up.pak\r\n",
        "x|00000001|00000000|0|D:\\data.pak\r\n",
        "x|00000001|00000000|0|quillgate.exe\r\n",  // a pack must be a pack
    };
    for (const char* body : cases) {
        RepairList list;
        EXPECT_EQ(Parse(body, list), RepairListResult::Unsafe) << body;
    }
    // A double-byte character whose second byte is "\" is not a separator.
    RepairList list;
    EXPECT_EQ(Parse("\x81\\.|00000001|00000000|0|\r\n", list), RepairListResult::Ok);
}

TEST(RepairList, SkipsTheLaunchersOwnFiles) {
    const char* skipped[] = {"quillgate.exe", "QuillGate.BIN", "ver.id",         "style.CFG",
                             "sub\\x.cfg",    "downloadX.dat", "DIRECTX9\\a.dll"};
    for (const char* name : skipped) {
        EXPECT_TRUE(IsSkippedLooseFile(name)) << name;
        RepairList list;
        ASSERT_EQ(Parse(std::string(name) + "|00000001|00000000|0|\r\n", list),
                  RepairListResult::Ok);
        EXPECT_EQ(list.entryCount, 0u) << name;
        EXPECT_EQ(list.totalVolume, 0u) << name;
    }
    for (const char* name : {"quillgate.exe.bak", "cfg", "directx.dll", "bin\\ver.id"})
        EXPECT_FALSE(IsSkippedLooseFile(name)) << name;
}

}  // namespace
