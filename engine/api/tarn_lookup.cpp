#include "tarn_lookup.h"

#include "platform/messages.h"

void BackgroundLookup::Start(const tarn::ProcessSettings& settings, const std::string& url,
                             const std::string& target, uint32_t notify, uint32_t message) {
    Stop();
    if (settings.lookupServer.empty() || url.empty()) return;
    interrupt_ = std::make_unique<platform::HttpInterrupt>();
    pending_ = true;
    thread_ =
        std::thread([this, settings, url, target, notify, message, interrupt = interrupt_.get()] {
            LookupSources found = AskLookup(settings, url, target, interrupt);
            {
                std::lock_guard<std::mutex> guard(lock_);
                answer_ = std::move(found);
            }
            platform::PostThreadMessage(notify, message, 0, 0);
        });
}

void BackgroundLookup::Stop() {
    if (interrupt_) interrupt_->Interrupt();
    if (thread_.joinable()) thread_.join();
    interrupt_.reset();
    pending_ = false;
    std::lock_guard<std::mutex> guard(lock_);
    answer_.reset();
}

std::optional<LookupSources> BackgroundLookup::TakeAnswer() {
    std::lock_guard<std::mutex> guard(lock_);
    std::optional<LookupSources> answer = std::move(answer_);
    answer_.reset();
    if (answer) pending_ = false;
    return answer;
}
