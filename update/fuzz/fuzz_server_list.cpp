// Fuzz target: arbitrary bytes as a downloaded "server.lst". A plain list (one holding the
// marker) must be stored as exactly its scrambled bytes, any other non-empty list byte for
// byte; a list that is not stored leaves the last good one untouched.
#include <cstddef>
#include <cstdint>
#include <string>

#include "testing/fuzz_support.h"
#include "update/position_key.h"
#include "update/server_list.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string downloadedPath = fuzz_support::Scratch() / "server.lst.new";
    const std::string path = fuzz_support::Scratch() / "server.lst";
    const std::string lastGood = "last good list";
    const std::string downloaded(reinterpret_cast<const char*>(data), size);
    testing_support::WriteFile(path, lastGood);
    testing_support::WriteFile(downloadedPath, downloaded);
    if (StoreServerList(downloadedPath, path) != ServerListStore::Stored) {
        fuzz_support::Require(testing_support::ReadFile(path) == lastGood,
                              "a list that is not stored keeps the last good one");
        return 0;
    }
    std::string expected = downloaded;
    if (downloaded.find(kServerListMarker) != std::string::npos) {
        ScrambleBuffer(expected.data(), expected.size());
    }
    fuzz_support::Require(testing_support::ReadFile(path) == expected,
                          "a stored list is the scrambled plain list or the list as it came");
    return 0;
}
