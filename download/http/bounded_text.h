// The downloader's fixed text buffers: messages, URLs and paths are GBK strings cut to
// their buffer, never past its end and never in the middle of a double-byte character.
#pragma once

#include <cstddef>
#include <string_view>

namespace DOWNANT {

// Copies `text` into `buffer` (capacity `size`, terminator included). False when it had
// to be cut.
bool CopyBounded(char* buffer, size_t size, std::string_view text);

// printf into `buffer` with a format written in UTF-8 in the source (it is converted to
// GBK first, so that GBK arguments such as URLs and paths are not re-encoded).
void FormatBounded(char* buffer, size_t size, const char* utf8Format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 3, 4)))
#endif
    ;

}  // namespace DOWNANT
