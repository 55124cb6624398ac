// Fuzz target: arbitrary bytes as a downloaded patch package, read through the zziplib
// hooks of every form. The bytes are written to a file (the updater reads packages by
// path), checked, read, converted, added to a plan and applied to a client folder holding
// one small pack, "resource/data.pak" (the seeds were made against it). Whatever the
// package says, nothing may be written outside that folder.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "axp/pack_file.h"
#include "axp/updater.h"
#include "platform/directory_tree.h"
#include "platform/file_system.h"
#include "testing/fuzz_support.h"

namespace {

std::set<std::string> NamesIn(const std::string& folder) {
    std::vector<platform::DirectoryEntry> entries;
    std::set<std::string> names;
    if (platform::ListDirectory(folder, entries)) {
        for (const auto& e : entries) names.insert(e.gbkName);
    }
    return names;
}

// The client's pack before the update: "data/a.txt" and "data/b.txt", stored.
std::string MakeBasePack(const std::string& path) {
    AXP::PackFile pack;
    const char a[] = "a\n";
    const char b[] = "hello world hello world\n";
    const bool made =
        pack.Create(path) && pack.AddFile(a, sizeof(a) - 1, "data/a.txt", true, false, 0, 0) &&
        pack.AddFile(b, sizeof(b) - 1, "data/b.txt", true, false, 0, 0) && pack.Close();
    fuzz_support::Require(made, "the client's pack can be made");
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto& scratch = fuzz_support::Scratch();
    const std::string package = scratch / "p.pkg";
    const std::string converted = scratch / "c.pkg";
    const std::string client = scratch / "client";
    static const std::string basePack = MakeBasePack(scratch / "base.pak");
    testing_support::WriteFile(package, std::string(reinterpret_cast<const char*>(data), size));
    platform::RemoveDirectoryTree(client);
    platform::CreateDirectoryIfMissing(client);
    platform::CreateDirectoryIfMissing(client + "/resource");
    platform::CopyFileOver(basePack, client + "/resource/data.pak");
    {
        AXP::Updater updater;
        uint32_t crc = 0;
        (void)updater.VerifyPackageFile(package);
        (void)updater.ComputeFileCrc(package, crc, true);
        std::string member;
        (void)updater.ReadPackageMember(package, "(command)", member);
        // Applied whether or not the trailer holds: `qgpatch apply` and a package that
        // was damaged after its trailer was computed reach the reader the same way.
        if (updater.AddPatchPackage(package, ".pak")) {
            (void)updater.GetPendingCount();
            (void)updater.ApplyPatches(client, ".pak", ".ver", nullptr);
        }
    }
    {
        AXP::Updater updater;
        if (updater.ConvertPackageForm(package, converted) &&
            updater.AddPatchPackage(converted, ".pak")) {
            (void)updater.ApplyPatches(client, ".pak", ".ver", nullptr);
        }
    }
    const std::set<std::string> expected = {"base.pak", "c.pkg", "client", "p.pkg"};
    const std::set<std::string> found = NamesIn(scratch.path().string());
    fuzz_support::Require(
        std::includes(expected.begin(), expected.end(), found.begin(), found.end()),
        "a package writes only inside the client folder");
    return 0;
}
