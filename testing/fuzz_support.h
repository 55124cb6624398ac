// Helpers shared by the fuzz targets: one scratch folder per process and the split of one
// input into several files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "testing/temp_dir.h"

namespace fuzz_support {

// Several files travel in one input separated by this line; it is short and printable so
// that the seeds stay readable and the fuzzer finds it by mutation.
inline constexpr std::string_view kPartSeparator = "\n====\n";

// The first `count` parts of the input; missing parts are empty, the last one takes the
// rest of the input.
inline std::vector<std::string> SplitParts(const uint8_t* data, size_t size, size_t count) {
    std::string_view rest(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> parts;
    while (parts.size() + 1 < count) {
        const size_t cut = rest.find(kPartSeparator);
        if (cut == std::string_view::npos) break;
        parts.emplace_back(rest.substr(0, cut));
        rest.remove_prefix(cut + kPartSeparator.size());
    }
    parts.emplace_back(rest);
    parts.resize(count);
    return parts;
}

// A folder of this process for the files a target writes, removed at exit.
inline const testing_support::TempDir& Scratch() {
    static const testing_support::TempDir dir("qg_fuzz");
    return dir;
}

// A broken property is a finding like a crash: abort so that the fuzzer keeps the input.
inline void Require(bool holds, const char* what) {
    if (holds) return;
    std::fprintf(stderr, "property broken: %s\n", what);
    std::abort();
}

}  // namespace fuzz_support
