// Golden files: packs that once made the library misbehave (fuzzer crashers and
// hand-made corrupt packs). Each must be handled without a crash: opened and read, or
// refused with an error.
#include <gtest/gtest.h>

#include <filesystem>

#include "../fuzz/fuzz_read_pack.h"
#include "testing/pack_test_util.h"

namespace AXP {
namespace {

TEST(Regression, GoldenPacksAreHandled) {
    namespace fs = std::filesystem;
    const fs::path dir = AXP_TEST_DATA_DIR;
    int count = 0;
    // A missing or emptied folder would make this pass without reading a single pack.
    ASSERT_TRUE(fs::is_directory(dir)) << dir;
    for (const auto& e : fs::directory_iterator(dir)) {
        if (!e.is_regular_file()) continue;
        auto bytes = axp_test::ReadFileBytes(e.path().string());
        SCOPED_TRACE(e.path().filename().string());
        axp_fuzz::ReadPackBytes(bytes.data(), bytes.size());
        ++count;
    }
    EXPECT_GT(count, 0) << "no golden packs in " << dir;
    RecordProperty("golden_files", count);
}

}  // namespace
}  // namespace AXP
