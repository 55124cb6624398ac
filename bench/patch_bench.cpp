// Patch apply throughput: a package that rewrites about 2,000 entries (200 MiB) of a pack,
// applied by the Updater, against unzip extracting the same members into a folder, in the
// same run. Prints MB/s of content moved and the ratio. Run through
// bench/run_patch_bench.sh.
//
//   patch_bench WORKDIR [ENTRIES] [MIB]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "axp/command_script.h"
#include "axp/error.h"
#include "axp/pack_file.h"
#include "axp/package_form.h"
#include "axp/updater.h"
#include "axp/zip_writer.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// Semi-compressible content (words with noise), like game tables and scripts.
std::string Content(size_t n, uint32_t seed) {
    static const char* words[] = {"model ", "texture ",   "frame ", "bone ", "0.125 ",
                                  "\r\n",   "quillgate ", "scene ", "-1 "};
    std::mt19937 rng(seed);
    std::string s;
    s.reserve(n);
    while (s.size() < n) {
        if (rng() % 8 == 0)
            s += static_cast<char>(rng());
        else
            s += words[rng() % 9];
    }
    s.resize(n);
    return s;
}

double Seconds(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

bool Fail(const char* what) {
    std::fprintf(stderr, "patch_bench: %s: error %u: %s\n", what, AXP::GetLastErrorCode(),
                 AXP::GetLastErrorText().c_str());
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: patch_bench WORKDIR [ENTRIES] [MIB]\n");
        return 2;
    }
    const fs::path work = argv[1];
    const int entries = argc > 2 ? std::atoi(argv[2]) : 2000;
    const size_t mib = argc > 3 ? std::strtoul(argv[3], nullptr, 10) : 200;
    const size_t average = mib * 1024 * 1024 / static_cast<size_t>(entries);
    fs::remove_all(work);
    fs::create_directories(work / "client/data");

    // The installed pack, and the package that rewrites every entry: half at the same size
    // (rewritten in place), half at another size (moved).
    std::printf("setup: %d entries, %zu MiB\n", entries, mib);
    const std::string pack = (work / "client/data/models.pak").string();
    const std::string zip = (work / "p.zip").string(), package = (work / "p.pkg").string();
    uint64_t contentBytes = 0;
    {
        AXP::PackFile p;
        AXP::ZipWriter w;
        std::string script;
        if (!p.Create(pack) || !w.Create(zip)) return Fail("create") ? 0 : 1;
        std::vector<std::string> names;
        for (int i = 0; i < entries; ++i) {
            const std::string name =
                "models/set" + std::to_string(i % 50) + "/m" + std::to_string(i);
            const size_t size = average / 2 + (static_cast<size_t>(i) * 7919) % average;
            const std::string old = Content(size, static_cast<uint32_t>(i));
            if (!p.AddFile(old.data(), static_cast<uint32_t>(size), name, true, false, 0, 0)) {
                return Fail("add") ? 0 : 1;
            }
            const std::string now = Content(i % 2 ? size : size * 3 / 4, 100000u + i);
            contentBytes += now.size();
            script += AXP::FormatScriptLine({AXP::kOpWrite, "data/models.pak", name, 0,
                                             static_cast<uint32_t>(now.size())}) +
                      "\r\n";
            names.push_back(name);
            if (!w.Add(name, now.data(), now.size(), true)) return Fail("zip") ? 0 : 1;
        }
        if (!w.Add(AXP::kCommandEntryName, script.data(), script.size(), true) || !w.Finish() ||
            !p.Close() || !AXP::ScramblePackageFile(zip, package)) {
            return Fail("package") ? 0 : 1;
        }
    }
    const double mb = static_cast<double>(contentBytes) / 1e6;
    std::printf("package: %.1f MB of content, %.1f MB scrambled zip\n", mb,
                static_cast<double>(fs::file_size(package)) / 1e6);

    // unzip first (it warms the page cache for the package bytes as much as the Updater's run
    // is warmed by the setup), then the Updater.
    const std::string unzipCommand =
        "unzip -q -o '" + zip + "' -d '" + (work / "unzipped").string() + "'";
    auto start = Clock::now();
    if (std::system(unzipCommand.c_str()) != 0) {
        std::fprintf(stderr, "patch_bench: unzip failed\n");
        return 1;
    }
    const double unzipSeconds = Seconds(start);

    start = Clock::now();
    {
        AXP::Updater u;
        if (!u.AddPatchPackage(package, ".pak") ||
            !u.ApplyPatches((work / "client").string(), ".pak", ".ver", nullptr)) {
            return Fail("apply") ? 0 : 1;
        }
    }
    const double applySeconds = Seconds(start);

    std::printf("unzip to a folder      %8.2f s  %8.1f MB/s\n", unzipSeconds, mb / unzipSeconds);
    std::printf("Updater apply to pack  %8.2f s  %8.1f MB/s\n", applySeconds, mb / applySeconds);
    std::printf("ratio apply/unzip time %8.2f\n", applySeconds / unzipSeconds);
    fs::remove_all(work);
    return 0;
}
