// Pack library benchmarks: name lookups, add and read throughput per codec against the raw
// codec libraries and a plain file copy, Open time and CheckConsistency.
// Run through bench/run_pack_bench.sh, which prints the ratios.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <lzma.h>
#include <lzo/lzo1x.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "axp/compress.h"
#include "axp/crc.h"
#include "axp/hash_table.h"
#include "axp/name_hash.h"
#include "axp/pack_file.h"

namespace {

namespace fs = std::filesystem;

const fs::path& WorkDir() {
    static const fs::path dir = [] {
        fs::path d = fs::temp_directory_path() / ("axp_bench_" + std::to_string(getpid()));
        fs::create_directories(d);
        return d;
    }();
    return dir;
}

std::string EntryName(int i) {
    return "data/models/set" + std::to_string(i % 97) + "/item_" + std::to_string(i) + ".mdl";
}

// Semi-compressible payload (words with noise), like game text and tables.
std::vector<uint8_t> Payload(size_t n) {
    static const char* words[] = {"vertex ", "normal ", "uv ",  "bone ",     "0.5 ",
                                  "1.25 ",   "-3.75 ",  "\r\n", "material ", "texture "};
    std::mt19937 rng(42);
    std::vector<uint8_t> v;
    v.reserve(n);
    while (v.size() < n) {
        if (rng() % 8 == 0) {
            v.push_back(static_cast<uint8_t>(rng()));
            continue;
        }
        for (const char* w = words[rng() % 10]; *w && v.size() < n; ++w)
            v.push_back(static_cast<uint8_t>(*w));
    }
    return v;
}

// A pack with `count` small entries and a catalogue, built once per count.
std::string PackWith(int count) {
    const std::string path = (WorkDir() / ("entries_" + std::to_string(count) + ".pak")).string();
    if (fs::exists(path)) return path;
    AXP::PackFile p;
    if (!p.Create(path)) std::abort();
    std::string list = std::to_string(count) + "\r\n";
    for (int i = 0; i < count; ++i) {
        char content[64];
        const int n = std::snprintf(content, sizeof(content), "entry %d payload", i);
        p.AddFile(content, static_cast<uint32_t>(n), EntryName(i), true, false, 0, 0);
        char line[32];
        std::snprintf(line, sizeof(line), "|%08X|%08X\r\n", static_cast<unsigned>(n),
                      AXP::Crc(content, n));
        list += EntryName(i) + line;
    }
    p.AddFile(list.data(), static_cast<uint32_t>(list.size()), "(list)", true, false, 0, 0);
    p.Close();
    return path;
}

// ---- Lookups in a pack of 30,000 entries ----

void BM_LookupPresent(benchmark::State& state) {
    AXP::PackFile p;
    p.Open(PackWith(30000), true);
    std::vector<std::string> names;
    for (int i = 0; i < 1000; ++i) names.push_back(EntryName(i * 29));
    size_t i = 0;
    for (auto _ : state) benchmark::DoNotOptimize(p.Exists(names[i++ % names.size()]));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_LookupPresent);

void BM_LookupAbsent(benchmark::State& state) {
    AXP::PackFile p;
    p.Open(PackWith(30000), true);
    std::vector<std::string> names;
    for (int i = 0; i < 1000; ++i) names.push_back("absent/" + std::to_string(i) + ".tga");
    size_t i = 0;
    for (auto _ : state) benchmark::DoNotOptimize(p.Exists(names[i++ % names.size()]));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_LookupAbsent);

// The hash table alone: the in-memory index (Find) against the full probe walk (FindByWalk).
AXP::HashTable& TableOf30000() {
    static AXP::HashTable table = [] {
        AXP::HashTable t;
        for (int i = 0; i < 30000; ++i) {
            const AXP::NameHashes h = AXP::HashNormalisedName(EntryName(i));
            t.Set(static_cast<uint32_t>(t.FindForInsert(h)),
                  AXP::HashSlot{h.hashA, h.hashB, AXP::kSlotInUse});
        }
        return t;
    }();
    return table;
}

template <bool kPresent, bool kIndex>
void BM_HashTable(benchmark::State& state) {
    AXP::HashTable& t = TableOf30000();
    std::vector<AXP::NameHashes> hashes;
    for (int i = 0; i < 1000; ++i) {
        hashes.push_back(
            AXP::HashNormalisedName(kPresent ? EntryName(i * 29) : "absent/" + std::to_string(i)));
    }
    size_t i = 0;
    for (auto _ : state) {
        const auto& h = hashes[i++ % hashes.size()];
        benchmark::DoNotOptimize(kIndex ? t.Find(h) : t.FindByWalk(h));
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_HashTable<true, true>)->Name("BM_HashTable_Present_Index");
BENCHMARK(BM_HashTable<true, false>)->Name("BM_HashTable_Present_Walk");
BENCHMARK(BM_HashTable<false, true>)->Name("BM_HashTable_Absent_Index");
BENCHMARK(BM_HashTable<false, false>)->Name("BM_HashTable_Absent_Walk");

// ---- Add and read throughput per codec ----

constexpr size_t kPayload = 1 << 20;

void BM_PackAdd(benchmark::State& state) {
    const uint8_t type = static_cast<uint8_t>(state.range(0));
    const auto data = Payload(kPayload);
    const std::string path = (WorkDir() / ("add_" + std::to_string(type) + ".pak")).string();
    AXP::PackFile p;
    p.Create(path);
    AXP::ICompress* codec = type ? AXP::GetCompressManager().GetByType(type) : nullptr;
    std::vector<uint8_t> buf;
    for (auto _ : state) {
        buf = data;
        uint32_t len = static_cast<uint32_t>(data.size());
        if (codec) {
            buf.resize(codec->GetMaxCompressedSize(len));
            codec->Compress(buf.data(), static_cast<uint32_t>(buf.size()), len);
        }
        if (!p.AddFile(buf.data(), len, "entry", true, false, type,
                       static_cast<uint32_t>(data.size()))) {
            state.SkipWithError("AddFile failed");
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data.size()));
    p.Close();
    fs::remove(path);
}
BENCHMARK(BM_PackAdd)->Arg(0)->Arg(1)->Arg(2)->Arg(3)->Unit(benchmark::kMillisecond);

// A pack at `path` holding `data` as the one entry "entry", compressed with `type`.
void WriteReadPack(const std::string& path, uint8_t type, const std::vector<uint8_t>& data) {
    AXP::PackFile w;
    w.Create(path);
    std::vector<uint8_t> buf = data;
    uint32_t len = static_cast<uint32_t>(data.size());
    if (type) {
        AXP::ICompress* codec = AXP::GetCompressManager().GetByType(type);
        buf.resize(codec->GetMaxCompressedSize(len));
        codec->Compress(buf.data(), static_cast<uint32_t>(buf.size()), len);
    }
    w.AddFile(buf.data(), len, "entry", true, false, type, static_cast<uint32_t>(data.size()));
    w.Close();
}

void BM_PackRead(benchmark::State& state) {
    const uint8_t type = static_cast<uint8_t>(state.range(0));
    const auto data = Payload(kPayload);
    const std::string path = (WorkDir() / ("read_" + std::to_string(type) + ".pak")).string();
    WriteReadPack(path, type, data);
    AXP::PackFile p;
    p.Open(path, true);
    std::vector<uint8_t> out(data.size());
    for (auto _ : state) {
        if (!p.ReadFileData("entry", true, out.data(), static_cast<uint32_t>(out.size()))) {
            state.SkipWithError("read failed");
        }
    }
    if (out != data) state.SkipWithError("content differs");
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data.size()));
}
BENCHMARK(BM_PackRead)->Arg(0)->Arg(1)->Arg(2)->Arg(3)->Unit(benchmark::kMillisecond);

// Raw library calls, the baselines.
void BM_RawLzoCompress(benchmark::State& state) {
    const auto data = Payload(kPayload);
    lzo_init();
    std::vector<uint8_t> out(data.size() + data.size() / 16 + 67), work(LZO1X_999_MEM_COMPRESS),
        back(data.size());
    for (auto _ : state) {
        lzo_uint n = out.size();
        lzo1x_999_compress_level(data.data(), data.size(), out.data(), &n, work.data(), nullptr, 0,
                                 nullptr, 8);
        lzo_uint m = back.size();
        lzo1x_optimize(out.data(), n, back.data(), &m, nullptr);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data.size()));
}
BENCHMARK(BM_RawLzoCompress)->Unit(benchmark::kMillisecond);

void BM_RawLzoDecompress(benchmark::State& state) {
    const auto data = Payload(kPayload);
    lzo_init();
    std::vector<uint8_t> out(data.size() + data.size() / 16 + 67), work(LZO1X_999_MEM_COMPRESS),
        back(data.size());
    lzo_uint n = out.size();
    lzo1x_999_compress_level(data.data(), data.size(), out.data(), &n, work.data(), nullptr, 0,
                             nullptr, 8);
    for (auto _ : state) {
        lzo_uint m = back.size();
        lzo1x_decompress_safe(out.data(), n, back.data(), &m, nullptr);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data.size()));
}
BENCHMARK(BM_RawLzoDecompress)->Unit(benchmark::kMillisecond);

lzma_options_lzma LzmaOptions() {
    lzma_options_lzma o;
    lzma_lzma_preset(&o, 6);
    o.dict_size = 1 << 20;
    return o;
}

void BM_RawLzmaCompress(benchmark::State& state) {  // one pass, no x86 filter trial
    const auto data = Payload(kPayload);
    lzma_options_lzma o = LzmaOptions();
    lzma_filter f[2] = {{LZMA_FILTER_LZMA1, &o}, {LZMA_VLI_UNKNOWN, nullptr}};
    std::vector<uint8_t> out(data.size() * 2);
    for (auto _ : state) {
        size_t pos = 0;
        lzma_raw_buffer_encode(f, nullptr, data.data(), data.size(), out.data(), &pos, out.size());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data.size()));
}
BENCHMARK(BM_RawLzmaCompress)->Unit(benchmark::kMillisecond);

void BM_RawLzmaDecompress(benchmark::State& state) {
    const auto data = Payload(kPayload);
    lzma_options_lzma o = LzmaOptions();
    lzma_filter f[2] = {{LZMA_FILTER_LZMA1, &o}, {LZMA_VLI_UNKNOWN, nullptr}};
    std::vector<uint8_t> out(data.size() * 2), back(data.size());
    size_t n = 0;
    lzma_raw_buffer_encode(f, nullptr, data.data(), data.size(), out.data(), &n, out.size());
    for (auto _ : state) {
        size_t in = 0, pos = 0;
        lzma_raw_buffer_decode(f, nullptr, out.data(), &in, n, back.data(), &pos, back.size());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data.size()));
}
BENCHMARK(BM_RawLzmaDecompress)->Unit(benchmark::kMillisecond);

// ---- Entry read against the raw decoder, interleaved ----
//
// BM_PackRead and BM_Raw*Decompress run one after the other, so on a machine shared with
// other work their ratio carries the load's drift between the two. Here each iteration
// times a short block of pack reads and a block of raw decodes of the same payload, in
// alternating order, and the counters are the medians of the per-iteration ratios
// (process CPU time and wall time).

// The raw codec's compressed form of `data` and a decoder of it, as the baselines use them.
struct RawDecoder {
    std::vector<uint8_t> stream;
    std::vector<uint8_t> out;
    bool lzo = true;

    RawDecoder(uint8_t type, const std::vector<uint8_t>& data) : out(data.size()), lzo(type == 2) {
        if (lzo) {
            lzo_init();
            std::vector<uint8_t> work(LZO1X_999_MEM_COMPRESS);
            stream.resize(data.size() + data.size() / 16 + 67);
            lzo_uint n = stream.size();
            lzo1x_999_compress_level(data.data(), data.size(), stream.data(), &n, work.data(),
                                     nullptr, 0, nullptr, 8);
            stream.resize(n);
        } else {
            lzma_options_lzma o = LzmaOptions();
            lzma_filter f[2] = {{LZMA_FILTER_LZMA1, &o}, {LZMA_VLI_UNKNOWN, nullptr}};
            stream.resize(data.size() * 2);
            size_t n = 0;
            lzma_raw_buffer_encode(f, nullptr, data.data(), data.size(), stream.data(), &n,
                                   stream.size());
            stream.resize(n);
        }
    }
    void Decode() {
        if (lzo) {
            lzo_uint m = out.size();
            lzo1x_decompress_safe(stream.data(), stream.size(), out.data(), &m, nullptr);
        } else {
            lzma_options_lzma o = LzmaOptions();
            lzma_filter f[2] = {{LZMA_FILTER_LZMA1, &o}, {LZMA_VLI_UNKNOWN, nullptr}};
            size_t in = 0, pos = 0;
            lzma_raw_buffer_decode(f, nullptr, stream.data(), &in, stream.size(), out.data(), &pos,
                                   out.size());
        }
    }
};

double Median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

void BM_ReadOverRaw(benchmark::State& state) {
    const uint8_t type = static_cast<uint8_t>(state.range(0));
    const auto data = Payload(kPayload);
    const std::string path =
        (WorkDir() / ("interleaved_" + std::to_string(type) + ".pak")).string();
    WriteReadPack(path, type, data);
    AXP::PackFile p;
    p.Open(path, true);
    RawDecoder raw(type, data);
    std::vector<uint8_t> out(data.size());
    const int block = type == 2 ? 8 : 2;  // about 10 ms of work per block
    struct Times {
        double cpu, wall;
    };
    auto timed = [&](auto&& work) {
        const std::clock_t c0 = std::clock();
        const auto w0 = std::chrono::steady_clock::now();
        for (int i = 0; i < block; ++i) work();
        const auto w1 = std::chrono::steady_clock::now();
        const std::clock_t c1 = std::clock();
        return Times{static_cast<double>(c1 - c0), std::chrono::duration<double>(w1 - w0).count()};
    };
    auto readEntry = [&] {
        if (!p.ReadFileData("entry", true, out.data(), static_cast<uint32_t>(out.size()))) {
            state.SkipWithError("read failed");
        }
    };
    auto decodeRaw = [&] { raw.Decode(); };
    std::vector<double> cpuRatios, wallRatios;
    bool readFirst = true;
    for (auto _ : state) {
        Times r, d;
        if (readFirst) {
            r = timed(readEntry);
            d = timed(decodeRaw);
        } else {
            d = timed(decodeRaw);
            r = timed(readEntry);
        }
        readFirst = !readFirst;
        if (d.cpu > 0) cpuRatios.push_back(r.cpu / d.cpu);
        if (d.wall > 0) wallRatios.push_back(r.wall / d.wall);
    }
    if (out != data || raw.out != data) state.SkipWithError("content differs");
    state.counters["cpu_ratio"] = Median(cpuRatios);
    state.counters["wall_ratio"] = Median(wallRatios);
}
BENCHMARK(BM_ReadOverRaw)->Arg(2)->Arg(3)->Iterations(40)->Unit(benchmark::kMillisecond);

// Plain file copy of the same bytes: write to a file, read it back.
void BM_PlainFileWrite(benchmark::State& state) {
    const auto data = Payload(kPayload);
    const std::string path = (WorkDir() / "plain.bin").string();
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
    for (auto _ : state) {
        if (::pwrite(fd, data.data(), data.size(), 0) != static_cast<ssize_t>(data.size()))
            state.SkipWithError("write");
    }
    ::close(fd);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data.size()));
}
BENCHMARK(BM_PlainFileWrite)->Unit(benchmark::kMillisecond);

void BM_PlainFileRead(benchmark::State& state) {
    const auto data = Payload(kPayload);
    const std::string path = (WorkDir() / "plain_read.bin").string();
    {
        const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
        if (::pwrite(fd, data.data(), data.size(), 0) < 0) state.SkipWithError("write");
        ::close(fd);
    }
    const int fd = ::open(path.c_str(), O_RDONLY);
    std::vector<uint8_t> out(data.size());
    for (auto _ : state) {
        if (::pread(fd, out.data(), out.size(), 0) != static_cast<ssize_t>(out.size()))
            state.SkipWithError("read");
    }
    ::close(fd);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data.size()));
}
BENCHMARK(BM_PlainFileRead)->Unit(benchmark::kMillisecond);

// ---- Open and CheckConsistency ----

void BM_Open30000(benchmark::State& state) {
    const std::string path = PackWith(30000);
    for (auto _ : state) {
        AXP::PackFile p;
        if (!p.Open(path, true)) state.SkipWithError("open failed");
    }
}
BENCHMARK(BM_Open30000)->Unit(benchmark::kMillisecond);

void BM_CheckConsistency10000(benchmark::State& state) {
    AXP::PackFile p;
    p.Open(PackWith(10000), true);
    for (auto _ : state) {
        if (!p.CheckConsistency(nullptr, nullptr, nullptr, nullptr))
            state.SkipWithError("check failed");
    }
}
BENCHMARK(BM_CheckConsistency10000)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::error_code ec;
    fs::remove_all(WorkDir(), ec);
    return 0;
}
