// Fuzz target: arbitrary bytes as a downloaded "server.lst". A plain list (one holding the
// marker) must be stored as exactly its scrambled bytes, any other list byte for byte.
#include <cstddef>
#include <cstdint>
#include <string>

#include "testing/fuzz_support.h"
#include "update/position_key.h"
#include "update/server_list.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = fuzz_support::Scratch() / "server.lst";
    const std::string downloaded(reinterpret_cast<const char*>(data), size);
    testing_support::WriteFile(path, downloaded);
    if (!StoreServerListScrambled(path)) return 0;
    std::string expected = downloaded;
    if (downloaded.find(kServerListMarker) != std::string::npos) {
        ScrambleBuffer(expected.data(), expected.size());
    }
    fuzz_support::Require(testing_support::ReadFile(path) == expected,
                          "a stored list is the scrambled plain list or the list as it came");
    return 0;
}
