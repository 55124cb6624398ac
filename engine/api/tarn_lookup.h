// The lookup of one download, asked on a thread of its own beside the transfer: the
// caller's URLs start at once, and a slow lookup server holds up neither the transfer nor a
// stop. The answer is kept for the task's thread, which a posted message wakes.
//
// Threads: every member is called from the task's thread; the request runs on the
// lookup's own thread, which Stop (and the destructor) interrupts and joins.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "platform/http_transfer.h"
#include "tarn_peers.h"
#include "tarn_settings.h"

class BackgroundLookup {
  public:
    BackgroundLookup() = default;
    ~BackgroundLookup() { Stop(); }
    BackgroundLookup(const BackgroundLookup&) = delete;
    BackgroundLookup& operator=(const BackgroundLookup&) = delete;

    // Stops an earlier request, then asks for `url` when a lookup server is set; once the
    // answer (or the failure) is in, posts `message` to the thread `notify`.
    void Start(const tarn::ProcessSettings& settings, const std::string& url,
               const std::string& target, uint32_t notify, uint32_t message);
    // Ends a request under way at once and waits for its thread; drops an answer not taken.
    void Stop();
    // The answer once it has come, handed out once; nothing while the request runs.
    std::optional<LookupSources> TakeAnswer();
    // From Start until the answer is taken or the lookup stopped.
    bool pending() const { return pending_; }

  private:
    std::unique_ptr<platform::HttpInterrupt> interrupt_;
    std::thread thread_;
    bool pending_ = false;
    std::mutex lock_;
    std::optional<LookupSources> answer_;  // guarded by lock_
};
