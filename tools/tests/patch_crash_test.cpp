// Crash safety of applying a patch: a child process applying a package is killed
// (SIGKILL) before its Nth file write, for kill points spread over the whole apply; the
// same apply run again must then give exactly the target client with consistent packs.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "axp/error.h"
#include "axp/updater.h"
#include "platform/file_fault.h"
#include "testing/package_builder.h"
#include "tools/qgpatch/client_diff.h"

namespace {

namespace fs = std::filesystem;
using axp_test::PackEntry;

// Passes everything to the real file system and kills the process just before write
// number `killAt` (WriteAt or SetSize, counted over all files).
class KillingFileSystem final : public platform::IFileSystem {
  public:
    explicit KillingFileSystem(uint64_t killAt) : killAt_(killAt) {}
    int Open(const std::string& path, platform::FileOpenMode mode,
             std::unique_ptr<platform::IFile>& out) override {
        std::unique_ptr<platform::IFile> inner;
        if (int e = platform::PosixFileSystem().Open(path, mode, inner)) return e;
        out = std::make_unique<File>(*this, std::move(inner));
        return 0;
    }
    int Stat(const std::string& path, uint64_t& size, bool& isDirectory) override {
        return platform::PosixFileSystem().Stat(path, size, isDirectory);
    }

  private:
    void BeforeWrite() {
        if (++writes_ == killAt_) kill(getpid(), SIGKILL);
    }
    class File final : public platform::IFile {
      public:
        File(KillingFileSystem& fs, std::unique_ptr<platform::IFile> inner)
            : fs_(fs), inner_(std::move(inner)) {}
        int ReadAt(uint64_t o, void* d, size_t n, size_t& got) override {
            return inner_->ReadAt(o, d, n, got);
        }
        int WriteAt(uint64_t o, const void* d, size_t n) override {
            fs_.BeforeWrite();
            return inner_->WriteAt(o, d, n);
        }
        int GetSize(uint64_t& size) override { return inner_->GetSize(size); }
        int SetSize(uint64_t size) override {
            fs_.BeforeWrite();
            return inner_->SetSize(size);
        }
        int Sync() override { return inner_->Sync(); }
        int Close() override { return inner_->Close(); }

      private:
        KillingFileSystem& fs_;
        std::unique_ptr<platform::IFile> inner_;
    };
    uint64_t killAt_;
    uint64_t writes_ = 0;
};

std::string Bytes(size_t n, uint32_t seed, bool text) {
    auto b = text ? axp_test::TextBytes(n, seed) : axp_test::RandomBytes(n, seed);
    return std::string(b.begin(), b.end());
}

class PatchCrashTest : public axp_test::TempDirTest {
  protected:
    // An old client and a new one that differ in about 3 MiB: entries rewritten at the
    // same and at other sizes (in place, moved, split free blocks), removed and added, a
    // pack replaced whole, loose files written and removed, ".ver".
    void MakeClients() {
        std::map<std::string, PackEntry> ui, uiNew, model, modelNew;
        for (uint32_t i = 0; i < 160; ++i) {
            const std::string name = "ui/e" + std::to_string(i) + ".tga";
            const size_t size = 2000 + (i * 7919) % 30000;
            const uint8_t type = static_cast<uint8_t>(i % 4);
            ui[name] = {Bytes(size, i, i % 3 != 0), type, static_cast<uint32_t>(size)};
            if (i % 5 == 0) continue;  // removed
            if (i % 5 == 1) {          // same content
                uiNew[name] = ui[name];
            } else {  // same size, smaller, larger
                const size_t newSize = i % 5 == 2 ? size : i % 5 == 3 ? size / 2 : size * 2;
                uiNew[name] = {Bytes(newSize, 1000 + i, i % 3 != 0), type,
                               static_cast<uint32_t>(newSize)};
            }
        }
        for (uint32_t i = 0; i < 40; ++i) {
            const size_t size = 1000 + i * 300;
            uiNew["new/n" + std::to_string(i)] = {Bytes(size, 5000 + i, true),
                                                  static_cast<uint8_t>(i % 4),
                                                  static_cast<uint32_t>(size)};
        }
        for (uint32_t i = 0; i < 20; ++i) {
            model["m" + std::to_string(i)] = {Bytes(10000, 7000 + i, false), 0, 10000};
            modelNew["m" + std::to_string(i)] = {Bytes(9000, 8000 + i, false), 0, 9000};
        }
        for (const auto& [dir, packUi, packModel, ver, extra] :
             {std::tuple{"old", ui, model, "1", "old extra"},
              std::tuple{"new", uiNew, modelNew, "2", "new extra, longer"}}) {
            axp_test::MakePack(Path(std::string(dir) + "/data/ui.pak"), packUi);
            axp_test::MakePack(Path(std::string(dir) + "/data/model.pak"), packModel);
            axp_test::WriteFileBytes(Path(std::string(dir) + "/.ver"), {uint8_t(ver[0])});
            const std::string e = extra;
            axp_test::WriteFileBytes(Path(std::string(dir) + "/bin/extra.dat"),
                                     std::vector<uint8_t>(e.begin(), e.end()));
        }
        axp_test::WriteFileBytes(Path("old/gone.txt"), {'g'});
        const std::string big = Bytes(400000, 99, false);
        axp_test::WriteFileBytes(Path("new/bin/big.bin"),
                                 std::vector<uint8_t>(big.begin(), big.end()));
    }

    bool Apply(platform::IFileSystem* fileSystem) {
        AXP::Updater u(fileSystem);
        return u.AddPatchPackage(Path("p.pkg"), ".pak") &&
               u.ApplyPatches(Path("client"), ".pak", ".ver", nullptr);
    }
    void FreshClient() {
        fs::remove_all(Path("client"));
        fs::copy(Path("old"), Path("client"), fs::copy_options::recursive);
    }
};

TEST_F(PatchCrashTest, KilledApplyCompletesOnTheNextRun) {
    MakeClients();
    qgpatch::PatchContent content;
    std::string error;
    ASSERT_TRUE(qgpatch::DiffClients(Path("old"), Path("new"), true, content, error)) << error;
    ASSERT_TRUE(qgpatch::WritePatchPackage(Path("p.pkg"), AXP::PackageForm::kScrambled, content));
    // model.pak travels whole (its "(list)" clashes with ui.pak's), ui.pak entry by entry.
    const auto target = axp_test::Snapshot(Path("new"));

    FreshClient();
    platform::FaultInjectingFileSystem counter;
    ASSERT_TRUE(Apply(&counter)) << AXP::GetLastErrorText();
    const uint64_t writes = counter.writeCount();
    ASSERT_GT(writes, 500u);

    constexpr uint64_t kPoints = 16;
    for (uint64_t i = 0; i < kPoints; ++i) {
        // Spread over the apply, off any regular stride of the write pattern.
        const uint64_t killAt = 1 + (writes - 1) * i / kPoints + (i * 7) % 5;
        SCOPED_TRACE("killed before write " + std::to_string(killAt) + " of " +
                     std::to_string(writes));
        FreshClient();
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            KillingFileSystem killer(killAt);
            _exit(Apply(&killer) ? 0 : 3);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;

        ASSERT_TRUE(Apply(nullptr)) << AXP::GetLastErrorText();
        const auto got = axp_test::Snapshot(Path("client"));
        EXPECT_TRUE(got == target) << axp_test::Describe(got, target);
        EXPECT_TRUE(got.inconsistent.empty()) << got.inconsistent.front();
    }
}

}  // namespace
