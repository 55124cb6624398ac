#include "platform/machine_id.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "testing/temp_dir.h"

namespace {

void WriteFact(const testing_support::TempDir& root, const std::string& path,
               const std::string& text) {
    std::filesystem::create_directories(std::filesystem::path(root / path).parent_path());
    std::ofstream(root / path) << text;
}

TEST(MachineId, FollowsTheFactsAndIgnoresWhatIsMissing) {
    testing_support::TempDir root("qg_machine");
    const auto empty = platform::ComputeMachineId(root.path().string());
    WriteFact(root, "etc/machine-id", "0123456789abcdef\n");
    const auto withId = platform::ComputeMachineId(root.path().string());
    EXPECT_NE(withId, empty);
    EXPECT_EQ(platform::ComputeMachineId(root.path().string()), withId);  // stable

    // The loopback does not count; interfaces are taken in name order.
    WriteFact(root, "sys/class/net/lo/address", "00:00:00:00:00:00\n");
    EXPECT_EQ(platform::ComputeMachineId(root.path().string()), withId);
    WriteFact(root, "sys/class/net/eth1/address", "02:00:00:00:00:02\n");
    const auto withMac = platform::ComputeMachineId(root.path().string());
    EXPECT_NE(withMac, withId);
    WriteFact(root, "sys/class/net/wlan0/address", "02:00:00:00:00:09\n");
    EXPECT_EQ(platform::ComputeMachineId(root.path().string()), withMac);

    WriteFact(root, "sys/block/sda/device/serial", "DISK42\n");
    EXPECT_NE(platform::ComputeMachineId(root.path().string()), withMac);
}

TEST(MachineId, TextIsFourWordsInUpperCaseHex) {
    platform::MachineId id{};
    for (int i = 0; i < 16; ++i) id[i] = static_cast<uint8_t>(0xA0 + i);
    EXPECT_EQ(platform::MachineIdText(id), "A3A2A1A0A7A6A5A4ABAAA9A8AFAEADAC");
    EXPECT_EQ(platform::MachineIdText(platform::ComputeMachineId()).size(), 32u);
}

}  // namespace
