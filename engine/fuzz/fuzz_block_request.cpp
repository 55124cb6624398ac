// Fuzz target: arbitrary bytes as a peer's request head to the local block server. An
// accepted request names a non-empty lower-case hex key and at most one range; the answer
// planned for any file length stays inside the file.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "engine/block_request.h"
#include "testing/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view head(reinterpret_cast<const char*>(data), size);
    const auto request = engine::ParseBlockRequest(head);
    if (!request) return 0;
    fuzz_support::Require(size <= engine::kMaxRequestHead, "a long head is refused");
    fuzz_support::Require(!request->key.empty(), "a key is named");
    for (char c : request->key)
        fuzz_support::Require((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'), "a hex key");
    for (int64_t length : {int64_t{0}, int64_t{1}, int64_t{4096}, int64_t{1} << 40}) {
        const engine::BlockAnswer answer = engine::PlanBlockAnswer(*request, length);
        if (answer.status == 416) continue;
        fuzz_support::Require(answer.status == 200 || answer.status == 206, "a known status");
        fuzz_support::Require(answer.offset >= 0 && answer.size >= 0, "not negative");
        fuzz_support::Require(answer.offset + answer.size <= length, "inside the file");
    }
    return 0;
}
