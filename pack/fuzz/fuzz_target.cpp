// libFuzzer target: arbitrary bytes opened as a pack (see fuzz_read_pack.h).
#include <cstddef>
#include <cstdint>

#include "fuzz_read_pack.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    axp_fuzz::ReadPackBytes(data, size);
    return 0;
}
