#include "engine/transfer/piece_map.h"

#include <algorithm>
#include <set>

namespace engine::transfer {

void PieceMap::Add(int64_t from, int64_t to, int writer, bool hashed) {
    if (to <= from) return;
    Remove(from, to);
    Span span{from, to, writer, hashed};
    // Joined with neighbours of the same writer and standing, so that a connection's
    // bytes stay one span however many writes they took.
    auto next = spans_.lower_bound(from);
    if (next != spans_.begin()) {
        auto before = std::prev(next);
        if (before->second.to == from && before->second.writer == writer &&
            before->second.hashed == hashed) {
            span.from = before->second.from;
            spans_.erase(before);
        }
    }
    next = spans_.lower_bound(to);
    if (next != spans_.end() && next->first == to && next->second.writer == writer &&
        next->second.hashed == hashed) {
        span.to = next->second.to;
        spans_.erase(next);
    }
    spans_[span.from] = span;
    held_ += to - from;
}

std::vector<PieceMap::Span> PieceMap::Remove(int64_t from, int64_t to) {
    std::vector<Span> removed;
    if (to <= from) return removed;
    auto it = spans_.lower_bound(from);
    if (it != spans_.begin() && std::prev(it)->second.to > from) --it;
    while (it != spans_.end() && it->second.from < to) {
        const Span s = it->second;
        it = spans_.erase(it);
        const int64_t cutFrom = std::max(s.from, from), cutTo = std::min(s.to, to);
        removed.push_back({cutFrom, cutTo, s.writer, s.hashed});
        held_ -= cutTo - cutFrom;
        if (s.from < cutFrom) spans_[s.from] = {s.from, cutFrom, s.writer, s.hashed};
        if (cutTo < s.to) {
            spans_[cutTo] = {cutTo, s.to, s.writer, s.hashed};
            break;  // the rest lies beyond `to`
        }
    }
    return removed;
}

bool PieceMap::Covered(int64_t from, int64_t to,
                       const std::function<bool(const Span&)>& accept) const {
    if (from >= to) return false;
    auto it = spans_.upper_bound(from);
    if (it == spans_.begin()) return false;
    --it;
    int64_t at = from;
    for (; it != spans_.end() && it->second.from <= at && accept(it->second); ++it) {
        if (it->second.to > at) at = it->second.to;
        if (at >= to) return true;
    }
    return false;
}

bool PieceMap::Held(int64_t from, int64_t to) const {
    return Covered(from, to, [](const Span&) { return true; });
}

bool PieceMap::Hashed(int64_t from, int64_t to) const {
    return Covered(from, to, [](const Span& s) { return s.hashed; });
}

std::vector<PieceMap::Span> PieceMap::spans() const {
    std::vector<Span> out;
    out.reserve(spans_.size());
    for (const auto& [from, span] : spans_) out.push_back(span);
    return out;
}

std::vector<ByteRange> PieceMap::RangesOf(int writer) const {
    std::vector<ByteRange> out;
    for (const auto& [from, span] : spans_) {
        if (span.writer != writer) continue;
        if (!out.empty() && out.back().to == span.from) {
            out.back().to = span.to;
        } else {
            out.push_back({span.from, span.to});
        }
    }
    return out;
}

std::vector<int> PieceMap::Writers() const {
    std::set<int> writers;
    for (const auto& [from, span] : spans_) writers.insert(span.writer);
    return {writers.begin(), writers.end()};
}

std::vector<ByteRange> PieceMap::Gaps() const {
    std::vector<ByteRange> gaps;
    if (length_ < 0) return gaps;
    int64_t at = 0;
    for (const auto& [from, span] : spans_) {
        if (span.from > at) gaps.push_back({at, span.from});
        at = std::max(at, span.to);
    }
    if (at < length_) gaps.push_back({at, length_});
    return gaps;
}

std::vector<Region> PieceMap::ToRegions(int32_t blockSize,
                                        const std::function<bool(const Span&)>& keep) const {
    std::vector<Region> regions;
    if (length_ <= 0 || blockSize <= 0) return regions;
    const int64_t blocks = (length_ + blockSize - 1) / blockSize;
    auto complete = [&](int64_t b) {
        const int64_t from = b * blockSize;
        return Covered(from, std::min(length_, from + blockSize), keep);
    };
    for (int64_t b = 0; b < blocks;) {
        const bool done = complete(b);
        int64_t e = b + 1;
        while (e < blocks && complete(e) == done) ++e;
        Region r;
        r.start = static_cast<int32_t>(b);
        r.length = static_cast<int32_t>(e - b);
        r.position = done ? r.start + r.length : r.start;
        r.state = done ? RegionState::Confirmed : RegionState::Unscheduled;
        regions.push_back(r);
        b = e;
    }
    return regions;
}

PieceMap PieceMap::FromRegions(const std::vector<Region>& regions, int64_t length,
                               int32_t blockSize) {
    PieceMap map(length);
    if (length <= 0 || blockSize <= 0) return map;
    for (const Region& r : regions) {
        if (!r.completed() || r.length <= 0 || r.start < 0) continue;
        const int64_t from = int64_t{r.start} * blockSize;
        const int64_t to = std::min(length, (int64_t{r.start} + r.length) * blockSize);
        if (from < to) map.Add(from, to, kEarlierRun, false);
    }
    return map;
}

}  // namespace engine::transfer
