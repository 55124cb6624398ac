// The bytes the FTP test servers serve: byte i of a file is (i * 7 + 3) % 251.
#pragma once

#include <cstdint>
#include <string>

namespace engine_test {

inline std::string Pattern(int64_t offset, size_t count) {
    std::string s(count, '\0');
    for (size_t i = 0; i < count; ++i) {
        s[i] = static_cast<char>(((static_cast<uint64_t>(offset) + i) * 7 + 3) % 251);
    }
    return s;
}

}  // namespace engine_test
