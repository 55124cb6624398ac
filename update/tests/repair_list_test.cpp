#include "update/repair_list.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

// The body with its header, whose count is that of the body's lines.
RepairListResult Parse(const std::string& body, RepairList& list) {
    const auto lines = std::count(body.begin(), body.end(), '\n');
    return ParseRepairList("current|" + std::to_string(lines) + "\r\n" + body, list);
}

bool Empty(const RepairList& list) {
    return list.looseFiles.empty() && list.packFiles.empty() && list.entryCount == 0 &&
           list.totalVolume == 0 && list.lineCount == 0;
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
        // A good line first: a refused list keeps nothing of it either.
        EXPECT_EQ(Parse(std::string("good.dat|00000001|00000000|0|\r\n") + body, list),
                  RepairListResult::Malformed)
            << body;
        EXPECT_TRUE(Empty(list)) << body;
    }
    RepairList list;
    EXPECT_EQ(ParseRepairList("only-one-field\r\n", list), RepairListResult::Malformed);
    EXPECT_EQ(ParseRepairList("", list), RepairListResult::Malformed);
    EXPECT_EQ(Parse(std::string(kRepairListMaxLine, 'x') + "|1|1|0|\r\n", list),
              RepairListResult::Malformed);
}

TEST(RepairList, RefusesACountThatDisagreesAndAFileNamedTwice) {
    const std::string line = "a.dat|00000001|00000000|0|\r\n";
    const std::string cases[] = {
        "current|4294967295\r\n" + line,
        "current|0\r\n" + line,
        "current|2\r\n" + line,
        "current|\r\n" + line,
        "current|1x\r\n" + line,
        "current|99999999999999999999999\r\n" + line,
        "current|2\r\n" + line + line,
        "current|2\r\n" + line + "A.DAT|00000002|00000000|0|\r\n",
        "current|2\r\nbin\\a.dll|00000001|00000000|0|\r\nBin/A.dll|00000001|00000000|0|\r\n",
        "current|2\r\nm\\x|00000001|00000000|0|Data.pak\r\nM/X|00000001|00000000|3|data.PAK\r\n",
        // A loose file that is also a pack of the list, either way round.
        "current|2\r\ndata.pak|00000001|00000000|0|\r\nx|00000001|00000000|0|Data.pak\r\n",
        "current|2\r\nx|00000001|00000000|0|data.pak\r\nDATA.PAK|00000001|00000000|0|\r\n",
    };
    for (const std::string& text : cases) {
        RepairList list;
        EXPECT_EQ(ParseRepairList(text, list), RepairListResult::Malformed) << text;
        EXPECT_TRUE(Empty(list)) << text;
    }
    // The same entry name in two packs is two files; skipped lines count too.
    RepairList list;
    ASSERT_EQ(ParseRepairList("current|3\r\nx|00000001|00000000|0|a.pak\r\n"
                              "x|00000001|00000000|0|b.pak\r\nver.id|00000001|00000000|0|\r\n",
                              list),
              RepairListResult::Ok);
    EXPECT_EQ(list.entryCount, 2u);
    EXPECT_EQ(list.lineCount, 3u);
}

TEST(RepairList, RefusesNamesOutsideTheClientFolder) {
    const char* cases[] = {
        "/etc/passwd|00000001|00000000|0|\r\n",
        "\\Windows\\x.dll|00000001|00000000|0|\r\n",
        "C:x.dll|00000001|00000000|0|\r\n",
        "data/../../x|00000001|00000000|0|\r\n",
        "..\\x|00000001|00000000|0|\r\n",
        "|00000001|00000000|0|\r\n",
        "a\tb|00000001|00000000|0|\r\n",
        "x|00000001|00000000|0|../up.pak\r\n",
        "x|00000001|00000000|0|D:\\data.pak\r\n",
        "x|00000001|00000000|0|quillgate.exe\r\n",  // a pack must be a pack
        // One spelling only: "." and empty components could pass for another file.
        "./quillgate.exe|00000001|00000000|0|\r\n",
        "bin//a.dll|00000001|00000000|0|\r\n",
        "bin/|00000001|00000000|0|\r\n",
        "x|00000001|00000000|0|./data.pak\r\n",
        // A pack among the launcher's own files.
        "x|00000001|00000000|0|download/a.pak\r\n",
        "x|00000001|00000000|0|QuillGate.pak\r\n",
        "x|00000001|00000000|0|Download\\sub\\a.pak\r\n",
    };
    for (const char* body : cases) {
        RepairList list;
        EXPECT_EQ(Parse(body, list), RepairListResult::Unsafe) << body;
        EXPECT_TRUE(Empty(list)) << body;
    }
    // A double-byte character whose second byte is "\" is not a separator; a pack whose
    // name only begins like the download folder's is the game's.
    RepairList list;
    EXPECT_EQ(
        Parse("\x81\\.|00000001|00000000|0|\r\nx|00000001|00000000|0|downloads.pak\r\n", list),
        RepairListResult::Ok);
}

TEST(RepairList, SkipsTheLaunchersOwnFiles) {
    const char* skipped[] = {"quillgate.exe",       "QuillGate.BIN",  "ver.id",
                             "style.CFG",           "sub\\x.cfg",     "downloadX.dat",
                             "DIRECTX9\\a.dll",     "quillgate.lock", "Release.Serial",
                             "serverlist.serial",   "qg-rundll",      "QUILLGATE.ZIP",
                             "download\\server.lst"};
    for (const char* name : skipped) {
        EXPECT_TRUE(IsSkippedLooseFile(name)) << name;
        RepairList list;
        ASSERT_EQ(Parse(std::string(name) + "|00000001|00000000|0|\r\n", list),
                  RepairListResult::Ok);
        EXPECT_EQ(list.entryCount, 0u) << name;
        EXPECT_EQ(list.totalVolume, 0u) << name;
    }
    for (const char* name : {"cfg", "directx.dll", "bin\\ver.id", "bin\\qg-rundll", "quillgate"})
        EXPECT_FALSE(IsSkippedLooseFile(name)) << name;
}

}  // namespace
