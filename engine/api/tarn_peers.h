// The task's side of peers: asking the lookup server for more sources, and serving what the
// task holds on the process's block server.
#pragma once

#include <string>
#include <vector>

#include "engine/multi_source_transfer.h"
#include "tarn_settings.h"

namespace platform {
class HttpInterrupt;
}

// The sources the lookup server names for `url` (none when it is not set or answers none).
// A line with the field "kind=peer" names another engine's block server, which may hold
// only part of the file, and more of it later; every other line names a whole copy. The
// request ends within its deadline, or at once through `interrupt`.
struct LookupSources {
    std::vector<std::string> mirrors;
    std::vector<std::string> peers;
};
LookupSources AskLookup(const tarn::ProcessSettings& settings, const std::string& url,
                        const std::string& target, platform::HttpInterrupt* interrupt);
// Publishes the transfer's held bytes on the block server (started on first need); returns
// the key, "" when nothing was published.
std::string PublishHeld(engine::MultiSourceTransfer& transfer, const std::string& md5);
void WithdrawPublished(const std::string& key);
// The block server's port, 0 when it does not run.
uint32_t BlockServerPort();
