#include "download/part_files.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "download/tests/scripted_server.h"

namespace qg_test {
namespace {

TEST(RemoveStalePartFiles, RemovesOnlyPartFilesOfThatFolder) {
    TempFolder folder;
    for (const char* name : {"a.pak.~dl", "patch.zip.~dl", "keep.txt", "keep.~dl.txt", ".~dl"})
        WriteFile(folder.Path(name), "x");
    std::filesystem::create_directories(folder.Path("dir.~dl"));
    std::filesystem::create_directories(folder.Path("sub"));
    WriteFile(folder.Path("sub/deeper.~dl"), "x");

    EXPECT_EQ(RemoveStalePartFiles(folder.Path("")), 2);
    for (const char* gone : {"a.pak.~dl", "patch.zip.~dl"})
        EXPECT_FALSE(std::filesystem::exists(folder.Path(gone))) << gone;
    for (const char* kept : {"keep.txt", "keep.~dl.txt", ".~dl", "dir.~dl", "sub/deeper.~dl"})
        EXPECT_TRUE(std::filesystem::exists(folder.Path(kept))) << kept;
    EXPECT_EQ(RemoveStalePartFiles(folder.Path("no-such-folder")), 0);
}

}  // namespace
}  // namespace qg_test
