// A file's block list: the SHA-256 of every 256 KiB block and of the whole file, made by the
// file's publisher (`qgpatch blocks`, `qg-get --make-blocks`) and published beside it as
// FILE + ".blocks". With it the engine checks every block as it arrives, so that bytes from
// sources nobody vouches for (a lookup's mirrors and peers) can be used.
//
// Format (binary, little-endian, exactly 56 + 32 * N bytes):
//
//   offset  size    field
//   0       8       magic "QGBLOCKS"
//   8       4       version, 1
//   12      4       block size in bytes, 262144
//   16      8       file length in bytes, 0 .. 2^38 (256 GiB)
//   24      32      SHA-256 of the whole file
//   56      32 * N  SHA-256 of each block in file order, N = ceil(length / block size);
//                   the last block may be shorter
//
// Anything else (another magic, version or block size, a length past the limit, a size that
// does not match N) is refused as a whole.
// The format, field by field: docs/formats/block-list.md
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/digest.h"

namespace engine {

inline constexpr int32_t kCheckedBlockSize = 256 * 1024;
inline constexpr int64_t kMaxListedLength = int64_t{1} << 38;
inline constexpr size_t kBlockListHeadBytes = 56;
// The longest list (a file of kMaxListedLength bytes): 32 MiB.
inline constexpr size_t kMaxBlockListBytes =
    kBlockListHeadBytes + 32 * static_cast<size_t>(kMaxListedLength / kCheckedBlockSize);

using platform::Sha256Digest;
using platform::Sha256Of;
// SHA-256 over bytes given piece by piece.
using Sha256 = platform::Sha256Stream;

std::string HexOf(const Sha256Digest& digest);
// 64 hexadecimal digits (either case); false otherwise.
bool ParseSha256Hex(std::string_view text, Sha256Digest& out);

struct BlockList {
    int64_t length = 0;
    int32_t blockSize = kCheckedBlockSize;
    Sha256Digest whole{};
    std::vector<Sha256Digest> blocks;

    int64_t BlockCount() const { return static_cast<int64_t>(blocks.size()); }
    // The bytes of block `index`: [BlockStart, BlockStart + BlockBytes).
    int64_t BlockStart(int64_t index) const { return index * blockSize; }
    int64_t BlockBytes(int64_t index) const;
};

std::optional<BlockList> ParseBlockList(std::string_view bytes);
std::string SerializeBlockList(const BlockList& list);

// Describes the file at `nativePath` (read once); false with `error` set when it cannot be
// read or is longer than a list may describe.
bool DescribeFile(const std::string& nativePath, BlockList& out, std::string& error);

}  // namespace engine
