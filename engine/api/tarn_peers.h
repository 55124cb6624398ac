// The task's side of peers: asking the lookup server for more sources, and serving what the
// task holds on the process's block server.
#pragma once

#include <string>
#include <vector>

#include "engine/multi_source_transfer.h"
#include "tarn_settings.h"

namespace platform {
class SocketInterrupt;  // what HttpInterrupt names
}

// What the lookup server says of `url` (nothing when it is not set or answers nothing): the
// file's length and MD5 when it tells them, and its sources. A line with the field
// "kind=peer" names another engine's block server, which may hold only part of the file,
// and more of it later; every other line names a whole copy. At most kMaxLookupMirrors
// mirrors and kMaxLookupPeers peers are taken from one answer. The request ends within its
// deadline, or at once through `interrupt`.
struct LookupSources {
    int64_t length = -1;
    std::string md5;
    std::vector<std::string> mirrors;
    std::vector<std::string> peers;
};
LookupSources AskLookup(const tarn::ProcessSettings& settings, const std::string& url,
                        const std::string& target, platform::SocketInterrupt* interrupt);
// Hands a lookup's answer to a running transfer, at any time: its length and MD5 to compare
// with the trusted ones, its mirrors and peers as untrusted sources (never as the caller's).
// False when the transfer had come to its end already, and so could not use them.
bool GiveLookupSources(engine::MultiSourceTransfer& transfer, const LookupSources& found);
// Publishes the transfer's held bytes on the block server (started on first need); returns
// the key, "" when nothing was published.
std::string PublishHeld(engine::MultiSourceTransfer& transfer, const std::string& md5);
void WithdrawPublished(const std::string& key);
// The block server's port, 0 when it does not run.
uint32_t BlockServerPort();
