// A held map: which bytes of a file an engine's block server holds, checked, and so will
// serve. A peer asks for it with "GET /KEY?held" and then asks only for those bytes.
//
// The answer's body (text, at most kMaxHeldMapBytes):
//   "QGHELD LENGTH COUNT\r\n"        the file's length and the number of lines that follow
//   "FIRST-LAST\r\n"                 COUNT times: held bytes FIRST to LAST (inclusive),
//                                    ascending, apart from each other, inside the file
// At most kMaxHeldRanges lines: a server whose held bytes lie in more pieces lists the first
// kMaxHeldRanges of them (the asker then knows less, never more, than is held). Numbers are
// plain decimals without sign or leading zeros. Anything else is refused whole.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/transfer/piece_map.h"

namespace engine {

inline constexpr size_t kMaxHeldRanges = 1024;
inline constexpr size_t kMaxHeldMapBytes = 64 * 1024;

struct HeldMap {
    int64_t length = 0;
    std::vector<transfer::ByteRange> ranges;  // half-open, ascending, apart
    int64_t heldBytes() const;
    bool whole() const { return heldBytes() == length; }
};

// The answer for `ranges` (half-open, in any order; overlapping and touching ones are joined,
// bytes outside the file dropped).
std::string FormatHeldMap(int64_t length, std::vector<transfer::ByteRange> ranges);
std::optional<HeldMap> ParseHeldMap(std::string_view body);

}  // namespace engine
