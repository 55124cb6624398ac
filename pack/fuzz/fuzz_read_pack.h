// The body of the pack fuzz target, shared with the regression test that replays golden
// files (pack/tests/data/).
//
// Input: either a whole pack file (when it starts with "AXPK" and is at least 1484852
// bytes long) or the compact form below, expanded into a pack image in memory (a real
// pack is too large for the fuzzer to mutate):
//   bytes 0-39   the header
//   byte 40      S, then S records of 14 bytes: u16 slot index (mod 36353) + the 12-byte slot
//   then         a u8 B, then B block entries of 16 bytes (block table indexes 0..B-1)
//   the rest     the data area, from offset 1484852
// Missing bytes are zero.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace axp_fuzz {

std::vector<uint8_t> ExpandToPack(const uint8_t* data, size_t size);
// Compact form of a pack image (inverse of ExpandToPack for packs with at most 255 slots
// and blocks in use); used to make seed inputs.
std::vector<uint8_t> CompactPack(const std::vector<uint8_t>& pack);

// Opens the bytes as a pack read-only and reads every entry named in its "(list)" and a
// few fixed names through streams (Read, Seek, ReadLine, SkipLine, GetCrc) and
// ReadFileData, runs CheckConsistency, then opens it for writing and removes and adds
// entries. Never fails: every outcome is allowed except a crash or sanitizer report.
void ReadPackBytes(const uint8_t* data, size_t size);

}  // namespace axp_fuzz
