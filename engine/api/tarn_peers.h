// The task's side of peers: asking the lookup server for more sources, and sharing what the
// task holds through the process's block server (tarn_sharing.h).
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
// mirrors and kMaxLookupPeers peers are taken from one answer. The request names this
// process's block server (when it runs), so that the answer never names it. It ends within
// its deadline, or at once through `interrupt`.
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
// Shares the transfer's checked bytes on the block server (started on first need) and
// announces them at the lookup server; returns the key, "" when nothing is shared (no lookup
// server set, or the block server cannot listen).
std::string PublishHeld(engine::MultiSourceTransfer& transfer, const std::string& md5);
// The transfer has put its file at `target`: it is seeded for the seeding time when its
// bytes passed a check, else no longer shared.
void FinishPublished(const std::string& key, const std::string& target, bool checked);
void WithdrawPublished(const std::string& key);
// The block server's port, 0 when it does not run.
uint32_t BlockServerPort();
// "HOST:PORT" of a lookup server setting; false when it is not of that form.
bool SplitLookupServer(const std::string& text, std::string& host, uint16_t& port);
