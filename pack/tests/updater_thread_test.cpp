// Two Updaters on two threads: each extracts into its own buffer, so neither writes the
// other's content (label "threads": runs under TSan).
#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "axp/error.h"
#include "axp/updater.h"
#include "axp/zip_writer.h"
#include "testing/package_builder.h"

namespace AXP {
namespace {

class UpdaterThreadTest : public axp_test::TempDirTest {};

TEST_F(UpdaterThreadTest, TwoUpdatersApplyAtOnce) {
    constexpr int kEntries = 40;
    struct Side {
        std::string client, package;
        std::vector<std::string> contents;
        bool ok = false;
    } sides[2];
    for (int s = 0; s < 2; ++s) {
        Side& side = sides[s];
        side.client = Path("client" + std::to_string(s));
        axp_test::MakePack(side.client + "/data/ui.pak", {});
        std::string script;
        std::vector<axp_test::ZipMember> members;
        for (int i = 0; i < kEntries; ++i) {
            // Same names on both sides, different content and sizes.
            const std::string name = "e" + std::to_string(i);
            auto bytes = axp_test::RandomBytes(4000 + 97 * i + 1000 * s, 100 * s + i);
            side.contents.emplace_back(bytes.begin(), bytes.end());
            char size[16];
            std::snprintf(size, sizeof(size), "%08X", static_cast<unsigned>(bytes.size()));
            script += "0|data/ui.pak|" + name + "|" + std::to_string(i % 4) + "|" + size + "\r\n";
            members.push_back({name, side.contents.back()});
        }
        side.package = Path("p" + std::to_string(s) + ".pkg");
        ASSERT_TRUE(
            axp_test::WritePackage(side.package, PackageForm::kSealed, script, members, false));
    }
    std::vector<std::thread> threads;
    for (Side& side : sides) {
        threads.emplace_back([&side] {
            Updater u;
            side.ok = u.AddPatchPackage(side.package, ".pak") &&
                      u.ApplyPatches(side.client, ".pak", ".ver", nullptr);
        });
    }
    for (auto& t : threads) t.join();
    for (const Side& side : sides) {
        ASSERT_TRUE(side.ok);
        PackFile p;
        ASSERT_TRUE(p.Open(side.client + "/data/ui.pak", true));
        for (int i = 0; i < kEntries; ++i) {
            const std::string name = "e" + std::to_string(i);
            std::string got(p.GetFileSize(name, false), '\0');
            ASSERT_TRUE(p.ReadFileData(name, true, got.data(), static_cast<uint32_t>(got.size())));
            EXPECT_TRUE(got == side.contents[i]) << side.client << " " << name;
        }
    }
}

TEST_F(UpdaterThreadTest, ConvertingFilesOfOneNameAtOnceKeepsThemApart) {
    // Each side seals its own "p.zip"; the temporary copies must not meet.
    for (int round = 0; round < 10; ++round) {
        std::string zips[2], contents[2];
        bool ok[2] = {false, false};
        for (int s = 0; s < 2; ++s) {
            const std::string dir = Path("side" + std::to_string(s) + "_" + std::to_string(round));
            std::filesystem::create_directories(dir);
            zips[s] = dir + "/p.zip";
            auto bytes = axp_test::RandomBytes(200000 + 1000 * s, 7 * round + s);
            contents[s].assign(bytes.begin(), bytes.end());
            ZipWriter w;
            ASSERT_TRUE(w.Create(zips[s]));
            ASSERT_TRUE(w.Add("data.bin", contents[s].data(), contents[s].size(), true));
            ASSERT_TRUE(w.Finish());
        }
        std::vector<std::thread> threads;
        for (int s = 0; s < 2; ++s) {
            threads.emplace_back([&, s] {
                Updater u;
                ok[s] = u.ConvertPackageForm(zips[s], zips[s] + ".jzq");
            });
        }
        for (auto& t : threads) t.join();
        for (int s = 0; s < 2; ++s) {
            ASSERT_TRUE(ok[s]) << GetLastErrorText();
            std::string member;
            Updater u;
            ASSERT_TRUE(u.ReadPackageMember(zips[s] + ".jzq", "data.bin", member));
            EXPECT_TRUE(member == contents[s]) << "side " << s << " round " << round;
        }
    }
}

}  // namespace
}  // namespace AXP
