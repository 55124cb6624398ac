#include "platform/file_lock.h"

#include <gtest/gtest.h>

#include <memory>

#include "testing/temp_dir.h"

namespace platform {
namespace {

TEST(FileLock, OneHolderAtATimeReleasedWhenItGoes) {
    testing_support::TempDir dir("qg_lock");
    const std::string path = dir / "quillgate.lock";
    auto first = std::make_unique<FileLock>();
    ASSERT_EQ(first->Acquire(path), FileLock::Result::Acquired);
    FileLock second;
    EXPECT_EQ(second.Acquire(path), FileLock::Result::Busy);
    EXPECT_FALSE(second.held());
    first.reset();
    EXPECT_EQ(second.Acquire(path), FileLock::Result::Acquired);
    FileLock missingFolder;
    EXPECT_EQ(missingFolder.Acquire(dir / "no/such/folder.lock"), FileLock::Result::Failed);
}

}  // namespace
}  // namespace platform
