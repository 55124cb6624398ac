// Reading the patch-information file: the whole read (parse, index, every patch section)
// for sites of 2,500 to 50,000 patch sections, and, for contrast, the old way of one
// profile look-up per value, each re-reading the file, at sizes it can still finish.
// Goal: 50,000 sections under a second in the release build.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/profile.h"
#include "update/patch_info.h"

namespace {

namespace fs = std::filesystem;

std::string SiteText(int sections) {
    std::string text =
        "[latest]\r\nlatest=CN.2.0.0\r\nquillgate=CN.9.0\r\nnewquillgate=http://up.example/"
        "q.zip\r\n";
    for (int i = 0; i < sections; ++i) {
        const std::string n = std::to_string(i);
        text += "[patch_" + n + "]\r\nfrom=CN.1." + n + ".0\r\nto=CN.1." + std::to_string(i + 1) +
                ".0\r\nurl=http://up.example/patch/client-" + n + ".jzq\r\n";
    }
    return text;
}

std::string WorkFile() {
    return (fs::temp_directory_path() / ("qg_patchinfo_bench_" + std::to_string(getpid())))
        .string();
}

void Write(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

void BM_ReadPatchInfo(benchmark::State& state) {
    const std::string text = SiteText(static_cast<int>(state.range(0)));
    const std::string path = WorkFile();
    for (auto _ : state) {
        state.PauseTiming();
        Write(path, text);  // the reader deletes the file, as the launcher wants it
        state.ResumeTiming();
        PatchInfo info;
        if (!ReadPatchInfoFile(path, info)) state.SkipWithError("not read");
        benchmark::DoNotOptimize(info.patches.data());
    }
    state.counters["sections"] = static_cast<double>(state.range(0));
}
BENCHMARK(BM_ReadPatchInfo)->Arg(2500)->Arg(10000)->Arg(50000)->Unit(benchmark::kMillisecond);

// One look-up per value, each reading and parsing the whole file again.
void BM_LookupPerValue(benchmark::State& state) {
    const int sections = static_cast<int>(state.range(0));
    const std::string path = WorkFile() + "_lookup";
    Write(path, SiteText(sections));
    for (auto _ : state) {
        size_t found = 0;
        for (const std::string& name : platform::GetProfileSectionNames(path)) {
            for (const char* key : {"from", "to", "url"})
                found += platform::GetProfileString(name, key, "", path).size();
        }
        benchmark::DoNotOptimize(found);
    }
    fs::remove(path);
    state.counters["sections"] = sections;
}
BENCHMARK(BM_LookupPerValue)->Arg(500)->Arg(1000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
