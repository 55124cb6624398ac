// Who sent the wrong bytes when the whole file fails its digest and nothing else checks
// them: the suspects are the sources that wrote the file. Each suspect in turn has its
// bytes fetched again from the others and compared: the round that changes bytes and makes
// the file pass names the source that sent them (a round that changes nothing clears its
// suspect without a digest). Rounds go to the least trusted first (a lookup's sources, then what an
// earlier run left, then the caller's mirrors, the caller's first URL last), and each
// suspect gets one round, so that the search ends. Pure bookkeeping: the transfer fetches.
#pragma once

#include <functional>
#include <optional>
#include <set>
#include <vector>

namespace engine::transfer {

class DigestBlame {
  public:
    struct Suspect {
        int writer = -1;
        bool certain = false;  // it alone wrote the file
    };

    // The file failed its digest; `writers` wrote it, `rank` orders them (lower first).
    // None when every writer has had its round.
    std::optional<Suspect> NextSuspect(const std::vector<int>& writers,
                                       const std::function<int(int)>& rank);
    // The file passed: the suspect of the last round, whose bytes were replaced.
    std::optional<int> Passed();

  private:
    std::set<int> tried_;
    std::optional<int> current_;
};

}  // namespace engine::transfer
