#include "platform/file_system.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/directory_tree.h"
#include "platform/file_fault.h"
#include "testing/temp_dir.h"

namespace platform {
namespace {

std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void Write(const std::string& path, const std::string& data) {
    std::ofstream(path, std::ios::binary) << data;
}

TEST(PosixFileSystem, RenameRemoveDirectoriesAndListing) {
    testing_support::TempDir dir("qg_fs");
    IFileSystem& fs = PosixFileSystem();
    Write(dir / "a", "new");
    Write(dir / "b", "old");

    EXPECT_EQ(fs.Rename(dir / "a", dir / "b"), 0);  // replaces
    EXPECT_EQ(Read(dir / "b"), "new");
    EXPECT_EQ(fs.Rename(dir / "a", dir / "c"), ENOENT);

    EXPECT_EQ(fs.CreateDirectory(dir / "d"), 0);
    EXPECT_EQ(fs.CreateDirectory(dir / "d"), 0);         // already there
    EXPECT_EQ(fs.CreateDirectory(dir / "b"), EEXIST);    // a file of that name
    EXPECT_EQ(fs.CreateDirectory(dir / "x/y"), ENOENT);  // no parents

    std::vector<NativeDirectoryEntry> entries;
    ASSERT_EQ(fs.List(dir.path().string(), entries), 0);
    std::sort(entries.begin(), entries.end(),
              [](const auto& l, const auto& r) { return l.name < r.name; });
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].name, "b");
    EXPECT_FALSE(entries[0].isDirectory);
    EXPECT_EQ(entries[1].name, "d");
    EXPECT_TRUE(entries[1].isDirectory);
    EXPECT_EQ(fs.List(dir / "none", entries), ENOENT);

    EXPECT_EQ(fs.Remove(dir / "b"), 0);
    EXPECT_EQ(fs.Remove(dir / "b"), ENOENT);
}

// The failed step and its errno travel with the result.
TEST(FileSystemStatus, NamesTheOperationAndErrno) {
    testing_support::TempDir dir("qg_fs");
    const SysStatus missing = DeleteFileAt(dir / "none");
    EXPECT_FALSE(missing);
    EXPECT_STREQ(missing.operation, "unlink");
    EXPECT_EQ(missing.error, ENOENT);

    std::vector<DirectoryEntry> entries;
    const SysStatus list = ListDirectory(dir / "none", entries);
    EXPECT_STREQ(list.operation, "readdir");
    EXPECT_EQ(list.error, ENOENT);

    const SysStatus copy = CopyFileOver(dir / "none", dir / "to");
    EXPECT_STREQ(copy.operation, "open");
    EXPECT_EQ(copy.error, ENOENT);

    uint64_t bytes = 0;
    EXPECT_TRUE(AvailableDiskSpace(dir.path().string(), bytes));
    EXPECT_GT(bytes, 0u);
    EXPECT_EQ(AvailableDiskSpace(dir / "none", bytes).error, ENOENT);
}

// A copy or a write that replaces a file is flushed before it is renamed over the
// target: when the flush or the rename fails, the target keeps its old content, no side
// file stays, and the status names the step.
TEST(FileSystemStatus, ReplacingKeepsTheOldFileWhenFlushOrRenameFails) {
    testing_support::TempDir dir("qg_fs");
    Write(dir / "source", "new content");
    chmod((dir / "source").c_str(), 0755);
    struct Case {
        bool copy;
        bool failSync;
        const char* operation;
    } cases[] = {{true, true, "sync"},
                 {true, false, "rename"},
                 {false, true, "sync"},
                 {false, false, "rename"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.copy ? "copy, " : "write, ") + c.operation);
        Write(dir / "target", "old");
        FaultInjectingFileSystem faulty;
        if (c.failSync) {
            faulty.FailSyncs(EIO);
        } else {
            faulty.FailRenameNumber(1, EXDEV);
        }
        const SysStatus s = c.copy
                                ? CopyFileOver(dir / "source", dir / "target", faulty)
                                : WriteFileReplacing(dir / "target", "new content", false, faulty);
        EXPECT_FALSE(s);
        EXPECT_STREQ(s.operation, c.operation);
        EXPECT_EQ(s.error, c.failSync ? EIO : EXDEV);
        EXPECT_EQ(Read(dir / "target"), "old");
        EXPECT_FALSE(std::filesystem::exists(dir / "target.part"));
    }
    ASSERT_TRUE(CopyFileOver(dir / "source", dir / "target"));
    EXPECT_EQ(Read(dir / "target"), "new content");
    struct stat st;
    ASSERT_EQ(stat((dir / "target").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0755u);  // the run bit travels with the copy
}

// A simulated kill at a rename or removal fails that call and everything after it.
TEST(FaultInjectingFileSystem, KillAtRenameOrRemoveStopsEverythingAfter) {
    testing_support::TempDir dir("qg_fs");
    for (const bool atRename : {true, false}) {
        SCOPED_TRACE(atRename ? "rename" : "remove");
        Write(dir / "a", "a");
        Write(dir / "b", "b");
        FaultInjectingFileSystem faulty;
        if (atRename) {
            faulty.FailRenameNumber(2, ENOSPC, /*kill=*/true);
        } else {
            faulty.FailRemoveNumber(2, ENOSPC, /*kill=*/true);
        }
        EXPECT_EQ(atRename ? faulty.Rename(dir / "a", dir / "c") : faulty.Remove(dir / "a"), 0);
        EXPECT_FALSE(faulty.killed());
        EXPECT_EQ(atRename ? faulty.Rename(dir / "b", dir / "d") : faulty.Remove(dir / "b"),
                  ENOSPC);
        EXPECT_TRUE(faulty.killed());
        EXPECT_TRUE(std::filesystem::exists(dir / "b"));  // the killed call did nothing
        std::unique_ptr<IFile> file;
        EXPECT_EQ(faulty.Open(dir / "b", FileOpenMode::kRead, file), EIO);
        EXPECT_EQ(faulty.Remove(dir / "b"), EIO);
        EXPECT_EQ(faulty.CreateDirectory(dir / "e"), EIO);
        EXPECT_EQ(atRename ? faulty.renameCount() : faulty.removeCount(), 2u);
        std::filesystem::remove(dir / "b");
        std::filesystem::remove(dir / "c");
    }
}

}  // namespace
}  // namespace platform
