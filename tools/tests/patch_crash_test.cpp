// Crash safety of applying a patch: a child process applying a package is killed
// (SIGKILL) before its Nth change to the disk (a write, rename or removal), for kill
// points spread over the whole apply and at every rename and removal; the same apply run
// again must then give exactly the target client with consistent packs.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <set>
#include <string>
#include <vector>

#include "axp/error.h"
#include "axp/updater.h"
#include "platform/file_fault.h"
#include "testing/package_builder.h"
#include "tools/qgpatch/client_diff.h"

namespace {

namespace fs = std::filesystem;
using axp_test::PackEntry;

// Passes everything to the real file system and kills the process just before change
// number `killAt` (a write, size change, rename, removal or new directory, counted over
// all files); with `killAt` 0 it only records the kind of each change.
class KillingFileSystem final : public platform::IFileSystem {
  public:
    enum class Change { kWrite, kRename, kRemove, kDirectory };

    explicit KillingFileSystem(uint64_t killAt) : killAt_(killAt) {}
    int Open(const std::string& path, platform::FileOpenMode mode,
             std::unique_ptr<platform::IFile>& out) override {
        std::unique_ptr<platform::IFile> inner;
        if (int e = real().Open(path, mode, inner)) return e;
        out = std::make_unique<File>(*this, std::move(inner));
        return 0;
    }
    int Stat(const std::string& path, uint64_t& size, bool& isDirectory) override {
        return real().Stat(path, size, isDirectory);
    }
    int Rename(const std::string& from, const std::string& to) override {
        Before(Change::kRename);
        return real().Rename(from, to);
    }
    int Remove(const std::string& path) override {
        Before(Change::kRemove);
        return real().Remove(path);
    }
    int CreateDirectory(const std::string& path) override {
        Before(Change::kDirectory);
        return real().CreateDirectory(path);
    }
    int List(const std::string& path, std::vector<platform::NativeDirectoryEntry>& e) override {
        return real().List(path, e);
    }

    const std::vector<Change>& changes() const { return changes_; }

  private:
    static platform::IFileSystem& real() { return platform::PosixFileSystem(); }
    void Before(Change change) {
        changes_.push_back(change);
        if (changes_.size() == killAt_) kill(getpid(), SIGKILL);
    }
    class File final : public platform::IFile {
      public:
        File(KillingFileSystem& fs, std::unique_ptr<platform::IFile> inner)
            : fs_(fs), inner_(std::move(inner)) {}
        int ReadAt(uint64_t o, void* d, size_t n, size_t& got) override {
            return inner_->ReadAt(o, d, n, got);
        }
        int WriteAt(uint64_t o, const void* d, size_t n) override {
            fs_.Before(Change::kWrite);
            return inner_->WriteAt(o, d, n);
        }
        int GetSize(uint64_t& size) override { return inner_->GetSize(size); }
        int SetSize(uint64_t size) override {
            fs_.Before(Change::kWrite);
            return inner_->SetSize(size);
        }
        int Sync() override { return inner_->Sync(); }
        int Close() override { return inner_->Close(); }

      private:
        KillingFileSystem& fs_;
        std::unique_ptr<platform::IFile> inner_;
    };
    uint64_t killAt_;
    std::vector<Change> changes_;
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
            // The helper writes no folders: without this the loose files were never there.
            fs::create_directories(Path(std::string(dir) + "/bin"));
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
    void MakePackage() {
        qgpatch::PatchContent content;
        std::string error;
        ASSERT_TRUE(qgpatch::DiffClients(Path("old"), Path("new"), true, content, error)) << error;
        ASSERT_TRUE(
            qgpatch::WritePatchPackage(Path("p.pkg"), AXP::PackageForm::kScrambled, content));
    }
    void ExpectClient(const axp_test::ClientSnapshot& target) {
        const auto got = axp_test::Snapshot(Path("client"));
        EXPECT_TRUE(got == target) << axp_test::Describe(got, target);
        EXPECT_TRUE(got.inconsistent.empty()) << got.inconsistent.front();
    }
    void FreshClient() {
        fs::remove_all(Path("client"));
        fs::copy(Path("old"), Path("client"), fs::copy_options::recursive);
    }
};

TEST_F(PatchCrashTest, KilledApplyCompletesOnTheNextRun) {
    MakeClients();
    MakePackage();
    // model.pak travels whole (its "(list)" clashes with ui.pak's), ui.pak entry by entry.
    const auto target = axp_test::Snapshot(Path("new"));

    FreshClient();
    KillingFileSystem recorder(0);
    ASSERT_TRUE(Apply(&recorder)) << AXP::GetLastErrorText();
    const std::vector<KillingFileSystem::Change>& changes = recorder.changes();
    const uint64_t total = changes.size();
    ASSERT_GT(total, 500u);

    // Points spread over the apply, off any regular stride of the write pattern, and every
    // rename and removal: a file put in place or taken away is where a plain file changes.
    std::set<uint64_t> killPoints;
    constexpr uint64_t kPoints = 16;
    for (uint64_t i = 0; i < kPoints; ++i)
        killPoints.insert(1 + (total - 1) * i / kPoints + (i * 7) % 5);
    size_t renames = 0, removals = 0;
    for (uint64_t n = 1; n <= total; ++n) {
        const KillingFileSystem::Change c = changes[n - 1];
        renames += c == KillingFileSystem::Change::kRename;
        removals += c == KillingFileSystem::Change::kRemove;
        if (c == KillingFileSystem::Change::kRename || c == KillingFileSystem::Change::kRemove) {
            killPoints.insert(n);
        }
    }
    ASSERT_GE(renames, 4u);  // the pack that travels whole, two loose files, ".ver"
    ASSERT_GE(removals, 1u);

    for (const uint64_t killAt : killPoints) {
        SCOPED_TRACE("killed before change " + std::to_string(killAt) + " of " +
                     std::to_string(total));
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
        ExpectClient(target);
    }
}

// A rename or removal that fails (or is the last thing a dying process does) fails the
// apply with the system's error, and the next run completes it.
TEST_F(PatchCrashTest, FailedRenameOrRemovalFailsTheApplyAndTheNextRunCompletes) {
    MakeClients();
    MakePackage();
    const auto target = axp_test::Snapshot(Path("new"));
    FreshClient();
    platform::FaultInjectingFileSystem counter;
    ASSERT_TRUE(Apply(&counter)) << AXP::GetLastErrorText();
    const uint64_t renames = counter.renameCount(), removals = counter.removeCount();
    ASSERT_GE(renames, 4u);
    ASSERT_GE(removals, 1u);

    struct Case {
        bool rename;
        uint64_t number;
        int error;
        bool kill;
    };
    const Case cases[] = {{true, 1, EACCES, false},
                          {true, 1, EXDEV, true},
                          {true, renames, EIO, true},
                          {false, 1, EACCES, false},
                          {false, removals, EIO, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.rename ? "rename " : "removal ") + std::to_string(c.number) +
                     (c.kill ? " killed" : " failed"));
        FreshClient();
        platform::FaultInjectingFileSystem faulty;
        if (c.rename) {
            faulty.FailRenameNumber(c.number, c.error, c.kill);
        } else {
            faulty.FailRemoveNumber(c.number, c.error, c.kill);
        }
        EXPECT_FALSE(Apply(&faulty));
        EXPECT_NE(AXP::GetLastErrorText().find("errno=" + std::to_string(c.error)),
                  std::string::npos)
            << AXP::GetLastErrorText();
        ASSERT_TRUE(Apply(nullptr)) << AXP::GetLastErrorText();
        ExpectClient(target);
    }
}

}  // namespace
