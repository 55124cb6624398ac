// Fuzz target: arbitrary bytes as a lookup server's answer, and its source lines.
// An answer that is not read changes nothing; a digest taken is 32 upper-case hexadecimal
// digits; a size taken is not negative; source lines are non-empty single lines; an
// accepted source URL has a known scheme and no blank.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/peer_lookup.h"
#include "engine/source_line.h"
#include "testing/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string answer(reinterpret_cast<const char*>(data), size);
    int64_t length = -7;
    std::string md5 = "old";
    std::vector<std::string> sources;
    const int code = engine::ParseLookupAnswer(answer, length, md5, sources);
    if (code != engine::kLookupOk) {
        fuzz_support::Require(
            code == engine::kLookupNoHeaderEnd || code == engine::kLookupServerFailed,
            "a known code");
        fuzz_support::Require(length == -7 && md5 == "old" && sources.empty(),
                              "an answer not read changes nothing");
        return 0;
    }
    fuzz_support::Require(length == -7 || length >= 0, "a size is not negative");
    fuzz_support::Require(
        md5 == "old" ||
            (md5.size() == 32 && md5.find_first_not_of("0123456789ABCDEF") == std::string::npos),
        "a digest is 32 upper-case hexadecimal digits");
    for (const std::string& line : sources) {
        fuzz_support::Require(!line.empty() && line.find("\r\n") == std::string::npos,
                              "a source line is one non-empty line");
        engine::SourceLine parsed;
        if (!engine::ParseSourceLine(line, parsed)) continue;
        fuzz_support::Require(parsed.url.find_first_of(" \t\r\n") == std::string::npos &&
                                  parsed.url.size() <= engine::kMaxSourceUrl,
                              "an accepted URL has no blank and a bounded length");
        for (const auto& [name, value] : parsed.fields) {
            fuzz_support::Require(!name.empty(), "a field has a name");
        }
    }
    return 0;
}
