// What a transfer holds of its file: the byte ranges written into its data file, which
// source wrote each (so that a wrong block or a wrong whole file can be traced to it), and
// whether each passed its block hash. Converts to and from the region map of the resume
// state, whose unit is a block. Not thread safe: its owner guards it.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <vector>

#include "engine/resume_state.h"

namespace engine::transfer {

struct ByteRange {
    int64_t from = 0;
    int64_t to = 0;  // one past the last byte
    int64_t size() const { return to - from; }
    bool operator==(const ByteRange&) const = default;
};

class PieceMap {
  public:
    // The writer of the bytes a previous transfer of the same file left (resume state).
    static constexpr int kEarlierRun = -2;

    struct Span {
        int64_t from = 0;
        int64_t to = 0;
        int writer = kEarlierRun;
        bool hashed = false;  // passed its block hash
    };

    explicit PieceMap(int64_t length = -1) : length_(length) {}

    int64_t length() const { return length_; }  // -1 until known
    void SetLength(int64_t length) { length_ = length; }

    // Marks [from, to) as held, written by `writer`; replaces whatever was held there.
    void Add(int64_t from, int64_t to, int writer, bool hashed);
    // Marks [from, to) as no longer held; returns the spans that were held there.
    std::vector<Span> Remove(int64_t from, int64_t to);
    void Clear() {
        spans_.clear();
        held_ = 0;
    }

    bool Held(int64_t from, int64_t to) const;    // every byte of [from, to)
    bool Hashed(int64_t from, int64_t to) const;  // every byte held and hashed
    int64_t heldBytes() const { return held_; }
    bool Complete() const { return length_ >= 0 && held_ == length_; }

    std::vector<Span> spans() const;
    std::vector<ByteRange> RangesOf(int writer) const;
    std::vector<int> Writers() const;     // in ascending order
    std::vector<ByteRange> Gaps() const;  // what is not held, with the length known

    // The region map: each block of `blockSize` bytes is complete when every byte of it is
    // held in spans that `keep` accepts; the rest is open.
    std::vector<Region> ToRegions(int32_t blockSize,
                                  const std::function<bool(const Span&)>& keep) const;
    // The bytes the complete regions of a loaded map describe, written by kEarlierRun.
    static PieceMap FromRegions(const std::vector<Region>& regions, int64_t length,
                                int32_t blockSize);

  private:
    // Every byte of [from, to) held in spans that `accept` takes.
    bool Covered(int64_t from, int64_t to, const std::function<bool(const Span&)>& accept) const;

    int64_t length_;
    std::map<int64_t, Span> spans_;  // by first byte; never overlapping
    int64_t held_ = 0;
};

}  // namespace engine::transfer
