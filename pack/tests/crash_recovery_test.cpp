// A writer killed between the records of one change: the next writer's Open frees the
// block that no slot references, so the pack passes its consistency check again.
#include <gtest/gtest.h>

#include <cstring>

#include "axp/crc.h"
#include "axp/error.h"
#include "axp/format.h"
#include "axp/pack_file.h"
#include "platform/file_fault.h"
#include "testing/pack_test_util.h"

namespace AXP {
namespace {

class CrashRecoveryTest : public axp_test::TempDirTest {
  protected:
    void MakePack(const std::string& content) {
        PackFile p;
        ASSERT_TRUE(p.Create(Path("t.pak")));
        ASSERT_TRUE(p.AddFile(content.data(), static_cast<uint32_t>(content.size()), "a", true,
                              false, 0, 0));
        char list[64];
        std::snprintf(list, sizeof(list), "1\r\na|%08X|%08X\r\n",
                      static_cast<unsigned>(content.size()), Crc(content.data(), content.size()));
        ASSERT_TRUE(
            p.AddFile(list, static_cast<uint32_t>(std::strlen(list)), "(list)", true, false, 0, 0));
        ASSERT_TRUE(p.Close());
    }
    bool Consistent() {
        PackFile p;
        return p.Open(Path("t.pak"), true) &&
               p.CheckConsistency(nullptr, nullptr, nullptr, nullptr);
    }
};

TEST_F(CrashRecoveryTest, NextWriterFreesTheBlockADeadWriterLeftBehind) {
    const std::string old(100, 'o');
    // Kill points inside a replacement that moves the entry (writes: content, zero fill,
    // new block, header, slot, old block, header) and inside a removal (slot, block,
    // header): before the slot, before the old block, before the freed block.
    struct Case {
        bool remove;
        uint64_t killAt;
        bool catalogueHolds;  // the slot still names the old content
    } cases[] = {{false, 5, true}, {false, 6, false}, {true, 2, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.remove ? "remove" : "replace") + ", write " +
                     std::to_string(c.killAt));
        MakePack(old);
        platform::FaultInjectingFileSystem faults;
        {
            PackFile p(&faults);
            ASSERT_TRUE(p.Open(Path("t.pak"), false));
            faults.FailWriteNumber(c.killAt, 5, true);
            const std::string bigger(5000, 'n');
            if (c.remove) {
                EXPECT_FALSE(p.RemoveFile("a", false));
            } else {
                EXPECT_FALSE(p.AddFile(bigger.data(), 5000, "a", true, false, 0, 0));
            }
        }
        EXPECT_FALSE(Consistent());
        {
            PackFile p;
            ASSERT_TRUE(p.Open(Path("t.pak"), false)) << GetLastErrorText();
            ASSERT_TRUE(p.Close());
        }
        if (c.catalogueHolds) {
            EXPECT_TRUE(Consistent()) << GetLastErrorText();
        }
        // Otherwise the change is in and the catalogue (written by the same patch) is not
        // yet: running the patch again completes it. No block is left unreferenced.
        PackFile p;
        ASSERT_TRUE(p.Open(Path("t.pak"), true));
        PackInfo info;
        ASSERT_TRUE(p.GetInfo(info));
        EXPECT_EQ(info.usedBlocks, info.usedSlots);
    }
}

// The header's free-bytes count of a pack whose writer died is whatever the running sums
// reached (repeated kills can wrap it to near 4 GiB); the next writer counts it again.
TEST_F(CrashRecoveryTest, NextWriterRecountsTheFreeBytesADeadWriterLeftWrong) {
    MakePack(std::string(1000, 'o'));
    {
        PackFile p;
        ASSERT_TRUE(p.Open(Path("t.pak"), false));
        ASSERT_TRUE(p.AddFile("x", 1, "b", true, false, 0, 0));
        ASSERT_TRUE(p.RemoveFile("a", true));  // frees 1024 bytes
        ASSERT_TRUE(p.Close());
    }
    auto bytes = axp_test::ReadFileBytes(Path("t.pak"));
    ASSERT_EQ(LoadU32(bytes.data() + 36), 1024u);
    for (uint32_t drifted : {0xFFFFFF00u, 0u, 4096u}) {
        SCOPED_TRACE(drifted);
        StoreU32(bytes.data() + 8, 1);  // editing: the writer was killed
        StoreU32(bytes.data() + 36, drifted);
        axp_test::WriteFileBytes(Path("t.pak"), bytes);
        PackFile p;
        ASSERT_TRUE(p.Open(Path("t.pak"), false)) << GetLastErrorText();
        ASSERT_TRUE(p.Close());
        EXPECT_EQ(LoadU32(axp_test::ReadFileBytes(Path("t.pak")).data() + 36), 1024u);
    }
}

}  // namespace
}  // namespace AXP
