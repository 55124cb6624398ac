#include "update/client_work_gate.h"

ClientWorkGate::Pass& ClientWorkGate::Pass::operator=(Pass&& other) noexcept {
    if (this != &other) {
        Leave();
        gate_ = other.gate_;
        other.gate_ = nullptr;
    }
    return *this;
}

void ClientWorkGate::Pass::MarkClientUpToDate() {
    if (gate_ == nullptr) return;
    std::lock_guard<std::mutex> lock(gate_->mutex_);
    if (gate_->holder_ == Work::Update) gate_->markedUpToDate_ = true;
}

void ClientWorkGate::Pass::Leave() {
    if (gate_ == nullptr) return;
    gate_->Release();
    gate_ = nullptr;
}

ClientWorkGate::Pass ClientWorkGate::Enter(Work work) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (holder_.has_value()) return Pass();
    holder_ = work;
    if (work == Work::Update) {
        clientUpToDate_ = false;
        markedUpToDate_ = false;
    }
    ++generation_;
    return Pass(this);
}

void ClientWorkGate::Release() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (holder_ == Work::Update) clientUpToDate_ = markedUpToDate_;
    holder_.reset();
    ++generation_;
}

bool ClientWorkGate::MayBegin(Work work) const {
    std::lock_guard<std::mutex> lock(mutex_);
    if (holder_.has_value()) return false;
    return work == Work::Update || clientUpToDate_;
}

std::optional<ClientWorkGate::Work> ClientWorkGate::holder() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return holder_;
}

bool ClientWorkGate::clientUpToDate() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return clientUpToDate_;
}

uint64_t ClientWorkGate::generation() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return generation_;
}

ClientWorkGate& ClientWorkGate::OfProcess() {
    static ClientWorkGate gate;
    return gate;
}
