#include "engine/transfer/digest_blame.h"

#include <algorithm>

namespace engine::transfer {

std::optional<DigestBlame::Suspect> DigestBlame::NextSuspect(const std::vector<int>& writers,
                                                             const std::function<int(int)>& rank) {
    current_.reset();
    std::vector<int> order = writers;
    std::stable_sort(order.begin(), order.end(),
                     [&rank](int a, int b) { return rank(a) < rank(b); });
    for (int writer : order) {
        if (tried_.insert(writer).second) {
            current_ = writer;
            return Suspect{writer, writers.size() == 1};
        }
    }
    return std::nullopt;
}

std::optional<int> DigestBlame::Passed() {
    std::optional<int> suspect = current_;
    current_.reset();
    return suspect;
}

}  // namespace engine::transfer
