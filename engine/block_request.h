// The request head a peer sends to the local block server, and the answer it gets. Kept
// apart from the sockets so that every head can be checked on its own.
// The format, field by field: docs/formats/block-server.md
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace engine {

// Longest request head accepted, up to and including the empty line.
inline constexpr size_t kMaxRequestHead = 8 * 1024;

struct BlockRequest {
    bool headOnly = false;  // HEAD rather than GET
    std::string key;        // the path without its leading "/" (and without "?held")
    bool heldMap = false;   // "/KEY?held": the file's held map (engine/held_map.h)
    bool hasRange = false;
    int64_t first = 0;              // with hasRange
    std::optional<int64_t> last;    // "first-last"; none for "first-"
    std::optional<int64_t> suffix;  // "-N": the last N bytes
};

// Parses a whole head ("...\r\n\r\n" included). Empty when it is not a GET or HEAD of an
// HTTP/1.x origin path "/KEY" or "/KEY?held" with at most one byte range: the server
// answers 400.
std::optional<BlockRequest> ParseBlockRequest(std::string_view head);

// Bytes to send for a request of a file of `length` bytes.
struct BlockAnswer {
    int status = 0;  // 200, 206 or 416
    int64_t offset = 0;
    int64_t size = 0;
};
BlockAnswer PlanBlockAnswer(const BlockRequest& request, int64_t length);

}  // namespace engine
