// Putting a finished file in place of another.
#pragma once

#include <string>

namespace platform {

// Replaces `to` with the content of `from` and removes `from`. Within one file system this
// is a rename, so `to` is never seen half-written; across file systems the bytes are
// copied into `to` (truncated first). On failure `error` holds the errno value, a copy
// that broke off has removed its partial `to`, and `from` is left in place.
bool MoveFileReplacing(const std::string& from, const std::string& to, int& error);

}  // namespace platform
